// Edges of one item's filing written together; see MSDBEdgeBatch.h.
#include "MSDBEdgeBatch.h"

#include <apr_strings.h>

#include <cstring>

#include "CommonNumbers.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

struct WaitingEdge {
  std::string parent;
  std::string ordinal;
};

}  // namespace

struct EdgeBatch {
  bool open = false;
  std::string child;
  std::vector<WaitingEdge> edges;
  std::vector<AncestorRow> rows;  // of child, for every edge in turn
};

namespace {

// Inserts count rows of two oids and a text, row i's texts from fill(i,
// columns), in one statement; *last: the oid of the last row.
template <typename Fill>
int insert_rows(apr_pool_t *pool, DbLink link, const char *insert, std::size_t count, Fill fill,
                apr_int64_t *last, const char **reason) {
  auto **args = static_cast<const char **>(apr_palloc(pool, sizeof(char *) * count * 3));
  for (std::size_t i = 0; i < count; ++i) fill(i, args + 3 * i);
  return db_insert_rows(pool, link, insert, "(%lld, %lld, %s)", args, static_cast<int>(count), last, reason);
}

int write_edges(apr_pool_t *pool, const EdgeBatch &batch, DbLink link, ObjectMemory *memory) {
  const std::size_t count = batch.edges.size();
  apr_int64_t last = 0;
  const char *reason = nullptr;
  auto fill = [&](std::size_t i, const char **columns) {
    columns[0] = batch.edges[i].parent.c_str();
    columns[1] = batch.child.c_str();
    columns[2] = batch.edges[i].ordinal.c_str();
  };
  if (insert_rows(pool, link, "insert into edge (parentObjectOid, objectOid, ordinal) values ", count, fill,
                  &last, &reason) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert edge");
  }
  if (memory == nullptr) return APR_SUCCESS;
  // The rows' oids are consecutive, ending at the last one inserted.
  for (std::size_t i = 0; i < count; ++i) {
    const apr_int64_t oid = last - static_cast<apr_int64_t>(count - 1 - i);
    object_memory_edge_added(memory, batch.edges[i].parent.c_str(), batch.child.c_str(),
                             str_from_int64(pool, oid));
  }
  return APR_SUCCESS;
}

int write_ancestors(apr_pool_t *pool, const EdgeBatch &batch, DbLink link) {
  apr_int64_t last = 0;
  const char *reason = nullptr;
  auto fill = [&](std::size_t i, const char **columns) {
    columns[0] = str_from_int64(pool, batch.rows[i].ancestor);
    columns[1] = batch.child.c_str();
    columns[2] = batch.rows[i].path.c_str();
  };
  if (insert_rows(pool, link, "insert into ancestor (ancestorObjectOid, objectOid, path) values ",
                  batch.rows.size(), fill, &last, &reason) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not add ancestor for the given edge, reason: %s", reason));
  }
  return APR_SUCCESS;
}

}  // namespace

EdgeBatch *edge_batch_create(apr_pool_t *pool) {
  return pool_new<EdgeBatch>(pool);
}

bool edge_batch_takes(const EdgeBatch *batch, const ObjectMemory *memory, const char *child) {
  return batch->open && memory != nullptr && batch->child == child && object_memory_leaf(memory, child);
}

void edge_batch_queue(EdgeBatch *batch, const char *parent, const char *child, const char *ordinal,
                      std::vector<AncestorRow> rows) {
  batch->child = child;
  batch->edges.push_back({parent, ordinal});
  batch->rows.insert(batch->rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
}

bool edge_batch_holds(const EdgeBatch *batch, const char *parent, const char *child) {
  if (batch->edges.empty() || batch->child != child) return false;
  for (const WaitingEdge &edge : batch->edges) {
    if (edge.parent == parent) return true;
  }
  return false;
}

int edge_batch_write(apr_pool_t *pool, EdgeBatch *batch, DbLink link, ObjectMemory *memory) {
  if (batch->edges.empty()) return APR_SUCCESS;
  int status = write_edges(pool, *batch, link, memory);
  if (status == APR_SUCCESS) status = write_ancestors(pool, *batch, link);
  batch->edges.clear();
  batch->rows.clear();
  return status;
}

void edge_batch_open(EdgeBatch *batch, const char *child) {
  batch->open = true;
  batch->child = child;
}

void edge_batch_close(EdgeBatch *batch) { batch->open = false; }
