// MSDBIdPath: id paths, the "/"-joined oids from a root down to an object.
//
// Pure text helpers: no database access, no state; results live in the
// caller's pool. The parent id path of a root object is "-1".
#pragma once

#include <apr_pools.h>

// The oid after the last "/" into oid and the text before it (or "-1") into
// parent. Either out-pointer may be null.
void msdb_id_split(apr_pool_t *pool, const char *id_path, const char **parent, const char **oid);

// oid alone under "-1", else parent + "/" + oid.
const char *msdb_id_join(apr_pool_t *pool, const char *parent, const char *oid);

// The id path levels steps up ("-1" once no "/" is left).
const char *msdb_id_up(apr_pool_t *pool, const char *id_path, int levels);

// True when a is "-1" or b lies below a; with or_equal also when b equals a.
bool msdb_id_is_ancestor(const char *a, const char *b, bool or_equal);

// True when every segment of id_path is decimal digits without a leading
// zero (or id_path is "-1");
// otherwise logs ERROR "Invalid object id \"%s\"" on "MSDB".
bool msdb_id_path_valid(const char *id_path);
