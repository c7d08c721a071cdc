// Edges of one item's filing written together; see MSDBEdgeBatch.h.
#include "MSDBEdgeBatch.h"

#include <apr_strings.h>

#include <cstring>
#include <string_view>

#include "CommonNumbers.h"
#include "log4c.h"
#include "log4c_pool.h"

// The batch's texts are kept in one string across items, each ended by a
// nul and found by its offset, so that queuing an edge and its ancestor rows
// allocates nothing once the string has grown to an item's size.
struct EdgeBatch {
  bool open = false;
  std::string child;
  std::string texts;
  std::vector<std::size_t> edges;  // per edge: its parent's and its ordinal's offsets
  std::vector<std::size_t> rows;   // per ancestor row of child, for every edge in turn: its ancestor's and path's

  void keep(std::string_view text, std::vector<std::size_t> &offsets) {
    offsets.push_back(texts.size());
    texts += text;
    texts += '\0';
  }
  const char *text(std::size_t offset) const { return texts.c_str() + offset; }
};

namespace {

// Inserts a row (first text, child, second text) for each pair of offsets,
// in one statement; *last: the oid of the last row.
int insert_rows(apr_pool_t *pool, const EdgeBatch &batch, DbLink link, const char *insert,
                const std::vector<std::size_t> &offsets, apr_int64_t *last, const char **reason) {
  const std::size_t count = offsets.size() / 2;
  auto **args = static_cast<const char **>(apr_palloc(pool, sizeof(char *) * count * 3));
  for (std::size_t i = 0; i < count; ++i) {
    args[3 * i] = batch.text(offsets[2 * i]);
    args[3 * i + 1] = batch.child.c_str();
    args[3 * i + 2] = batch.text(offsets[2 * i + 1]);
  }
  return db_insert_rows(pool, link, insert, "(%lld, %lld, %s)", args, static_cast<int>(count), last, reason);
}

int write_edges(apr_pool_t *pool, const EdgeBatch &batch, DbLink link, ObjectMemory *memory) {
  apr_int64_t last = 0;
  const char *reason = nullptr;
  if (insert_rows(pool, batch, link, "insert into edge (parentObjectOid, objectOid, ordinal) values ", batch.edges,
                  &last, &reason) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert edge");
  }
  if (memory == nullptr) return APR_SUCCESS;
  // The rows' oids are consecutive, ending at the last one inserted.
  const std::size_t count = batch.edges.size() / 2;
  for (std::size_t i = 0; i < count; ++i) {
    const apr_int64_t oid = last - static_cast<apr_int64_t>(count - 1 - i);
    object_memory_edge_added(memory, batch.text(batch.edges[2 * i]), batch.child.c_str(), str_from_int64(pool, oid));
  }
  return APR_SUCCESS;
}

int write_ancestors(apr_pool_t *pool, const EdgeBatch &batch, DbLink link) {
  apr_int64_t last = 0;
  const char *reason = nullptr;
  if (insert_rows(pool, batch, link, "insert into ancestor (ancestorObjectOid, objectOid, path) values ", batch.rows,
                  &last, &reason) != APR_SUCCESS) {
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
                      const std::vector<AncestorRow> &rows) {
  batch->child = child;
  batch->keep(parent, batch->edges);
  batch->keep(ordinal, batch->edges);
  for (const AncestorRow &row : rows) {
    DecimalDigits digits;
    batch->keep(decimal_digits(row.ancestor, digits), batch->rows);
    batch->keep(row.path, batch->rows);
  }
}

bool edge_batch_holds(const EdgeBatch *batch, const char *parent, const char *child) {
  if (batch->edges.empty() || batch->child != child) return false;
  for (std::size_t i = 0; i < batch->edges.size(); i += 2) {
    if (std::strcmp(batch->text(batch->edges[i]), parent) == 0) return true;
  }
  return false;
}

int edge_batch_write(apr_pool_t *pool, EdgeBatch *batch, DbLink link, ObjectMemory *memory) {
  if (batch->edges.empty()) return APR_SUCCESS;
  int status = write_edges(pool, *batch, link, memory);
  if (status == APR_SUCCESS) status = write_ancestors(pool, *batch, link);
  batch->texts.clear();
  batch->edges.clear();
  batch->rows.clear();
  return status;
}

void edge_batch_open(EdgeBatch *batch, const char *child) {
  batch->open = true;
  batch->child = child;
}

void edge_batch_close(EdgeBatch *batch) { batch->open = false; }
