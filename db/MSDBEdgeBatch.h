// MSDBEdgeBatch: the edges that file one fresh item into its containers,
// held back and written with their ancestor rows in one multi-row insert per
// table when the item's filing ends, instead of two statements per edge.
//
// A batch belongs to one DBThreadConnection (created in its pool, used by
// its thread only) and holds edges only while the connection is inside a
// transaction and a filing is open. Rows are written in the order they were
// queued, so their oids are those single inserts would have given; anything
// else that writes or reads edges on the connection writes the batch first.
#pragma once

#include <apr_pools.h>

#include <string>
#include <vector>

#include "MSDBHelper.h"
#include "MSDBObjectMemory.h"

struct EdgeBatch;

// A new, closed batch in pool.
EdgeBatch *edge_batch_create(apr_pool_t *pool);

// Whether an edge parent -> child may wait in the batch: it is open for
// child, which is a leaf of memory.
bool edge_batch_takes(const EdgeBatch *batch, const ObjectMemory *memory, const char *child);

// Queues the edge (ordinal as stored) and child's ancestor rows for it.
void edge_batch_queue(EdgeBatch *batch, const char *parent, const char *child, const char *ordinal,
                      const std::vector<AncestorRow> &rows);

// Whether parent -> child waits in the batch.
bool edge_batch_holds(const EdgeBatch *batch, const char *parent, const char *child);

// Writes what waits through link, recording the edges in memory (may be
// null). Returns 0, or 20014 after ERROR "Could not insert edge" or "Could
// not add ancestor for the given edge, reason: %s"; the batch is empty either way.
int edge_batch_write(apr_pool_t *pool, EdgeBatch *batch, DbLink link, ObjectMemory *memory);

// Opens the batch for child's edges (a batch left open is written first by
// the caller) / closes it.
void edge_batch_open(EdgeBatch *batch, const char *child);
void edge_batch_close(EdgeBatch *batch);
