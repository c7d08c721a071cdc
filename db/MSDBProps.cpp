// Property rows, interning and the container flag.
#include "MSDBProps.h"

#include <apr_hash.h>
#include <apr_strings.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <strings.h>
#include <vector>

#include "CommonEscape.h"
#include "CommonNumbers.h"
#include "CommonText.h"
#include "CommonUserMessage.h"
#include "MSDBConnection.h"
#include "MSDBCounters.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "MSDB";
constexpr const char *kNotDeleted = "Could not execute SQL statement - prop was not deleted, reason: %s";


const char *resolve_name(int slot, const char *name) {
  if (name != nullptr) return name;
  const char *known = prop_name(slot);
  if (known == nullptr) LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
  return known;
}

// "is null" or "= <oid>": how statements test the parentOid column.
struct ParentTest {
  const char *op;
  const char *oid;
};
ParentTest parent_test(const char *parent_prop) {
  return parent_prop == nullptr ? ParentTest{"is null", ""} : ParentTest{"=", parent_prop};
}

bool oids_valid(const char *object, const char *parent_prop) {
  return db_oid_valid(object) && (parent_prop == nullptr || db_oid_valid(parent_prop));
}

// The select that finds an existing row: same name and value, or (any_value)
// same name only.
const char *row_lookup(apr_pool_t *pool, const char *object, const char *name_oid,
                       const char *value_oid, const char *parent_prop, bool any_value) {
  ParentTest parent = parent_test(parent_prop);
  if (any_value) {
    return db_sql(pool, "select oid from prop where (objectOid=%s) and (nameOid=%s) and (parentOid %s %s);", object,
                  name_oid, parent.op, parent.oid);
  }
  return db_sql(pool,
                "select oid from prop where (objectOid=%s) and (nameOid=%s) and (valueOid=%s) and (parentOid %s %s);",
                object, name_oid, value_oid, parent.op, parent.oid);
}

// One property row as the statements name it.
struct RowSpec {
  const char *object;
  const char *name;
  const char *name_oid;
  const char *value;  // escaped, as stored
  const char *value_oid;
  const char *parent_prop;  // null for an element row
};

// The row id is left to SQLite: naming it would check it for uniqueness and,
// prop's trigger making the statement one of several writes, have SQLite
// copy every page the insert changes to a statement journal first.
constexpr const char *kRowInsert =
    "insert into prop (parentOid, nameOid, objectOid, valueOid) values(%s, %s, %s, %s);";

const char *row_insert(apr_pool_t *pool, const RowSpec &row) {
  return db_sql(pool, kRowInsert, row.parent_prop == nullptr ? "null" : row.parent_prop, row.name_oid, row.object,
                row.value_oid);
}

bool same_parent(const RememberedRow &row, const char *parent_prop) {
  return parent_prop == nullptr ? row.parent_prop.empty() : row.parent_prop == parent_prop;
}

// Inserts a row known to be new, remembered when its object is fresh.
int insert_row(apr_pool_t *pool, DbLink link, ObjectMemory *memory, const RowSpec &spec, const char **row_oid) {
  const char *args[] = {spec.parent_prop, spec.name_oid, spec.object, spec.value_oid};
  if (db_insert_prepared(pool, link, kRowInsert, args, row_oid) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not insert prop");
  }
  if (memory == nullptr) return APR_SUCCESS;
  object_memory_row_added(memory, spec.object,
                          {*row_oid, spec.name_oid, spec.value_oid, spec.parent_prop ? spec.parent_prop : "",
                           spec.name, spec.value});
  return APR_SUCCESS;
}

int find_or_insert_row(apr_pool_t *pool, DBThreadConnection *conn, const RowSpec &spec, bool any_value,
                       const char **prop_oid) {
  const char *row = nullptr;
  ObjectMemory *memory = msdb_object_memory(conn);
  if (const std::vector<RememberedRow> *rows = memory ? object_memory_rows(memory, spec.object) : nullptr) {
    for (const RememberedRow &known : *rows) {
      if (known.name_oid == spec.name_oid && same_parent(known, spec.parent_prop) &&
          (any_value || known.value_oid == spec.value_oid)) {
        row = apr_pstrdup(pool, known.row_oid.c_str());
        break;
      }
    }
    if (row == nullptr && insert_row(pool, conn->medialib, memory, spec, &row) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
  } else {
    const char *select = row_lookup(pool, spec.object, spec.name_oid, spec.value_oid, spec.parent_prop, any_value);
    if (db_find_or_insert(pool, conn->medialib, select, row_insert(pool, spec), &row) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, "Could not insert prop");
    }
  }
  if (prop_oid != nullptr) *prop_oid = row;
  return APR_SUCCESS;
}

// Interns name and (unless null) value, filling the row's texts and oids.
int intern_both(apr_pool_t *pool, MediaLibraryDB *db, const char *name, const char *value, RowSpec *spec) {
  spec->name = name;
  if (msdb_intern_name(pool, db, name, &spec->name_oid) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not find prop name or insert it");
  }
  if (value == nullptr) return APR_SUCCESS;
  spec->value = xml_escape(pool, value);
  if (msdb_intern_value(pool, db, spec->value, &spec->value_oid) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not find prop value or insert it");
  }
  return APR_SUCCESS;
}

// The "zentoria:isContainer" value a class row of name and value sets, or
// null when it sets none. A null name means the property written is not
// known, so the value alone decides.
const char *container_flag(const char *name, const char *value) {
  if (value == nullptr || (name != nullptr && std::strcmp(name, prop_name(PROP_UPNP_CLASS)) != 0)) return nullptr;
  if (strncasecmp(value, "object.container", 16) == 0) return "1";
  if (strncasecmp(value, "object.item", 11) == 0) return "0";
  return nullptr;
}

// Keeps the flag in step with a class written to object.
int update_is_container(apr_pool_t *pool, MediaLibraryDB *db, const char *object, const char *name,
                        const char *value) {
  const char *flag = container_flag(name, value);
  if (flag == nullptr) return APR_SUCCESS;
  if (msdb_set_slot(pool, db, object, PROP_ZENTORIA_IS_CONTAINER, flag) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not alter the %s property to %s", prop_name(PROP_ZENTORIA_IS_CONTAINER), flag));
  }
  return APR_SUCCESS;
}

int add_or_ensure(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop, const char *object,
                  int slot, const char *name, const char *value, bool any_value,
                  const char **prop_oid) {
  if (prop_oid != nullptr) *prop_oid = nullptr;
  name = resolve_name(slot, name);
  if (name == nullptr || value == nullptr || !oids_valid(object, parent_prop)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  RowSpec spec{object, nullptr, nullptr, nullptr, nullptr, parent_prop};
  const char *row = nullptr;
  if (msdb_counters_settle(conn, object, name) != APR_SUCCESS ||
      intern_both(pool, db, name, value, &spec) != APR_SUCCESS ||
      find_or_insert_row(pool, conn, spec, any_value, &row) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (update_is_container(pool, db, object, name, value) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not update the isContainer flag");
  }
  if (prop_oid != nullptr) *prop_oid = row;
  return APR_SUCCESS;
}

int delete_named(apr_pool_t *pool, DBThreadConnection *conn, const char *name_oid, const char *object,
                 const char *parent_prop) {
  DbLink link = conn->medialib;
  // A container that lost its title no longer answers to it.
  if (msdb_graph_changed(conn) != APR_SUCCESS) return APR_EGENERAL;
  ParentTest parent = parent_test(parent_prop);
  const char *attributes = db_sql(pool,
                                  "delete from prop where parentOid in (select oid from prop where (nameOid=%s) and "
                                  "(objectOid=%s) and (parentOid %s %s))",
                                  name_oid, object, parent.op, parent.oid);
  const char *rows = db_sql(pool, "delete from prop where (nameOid=%s) and (objectOid=%s) and (parentOid %s %s)",
                            name_oid, object, parent.op, parent.oid);
  if (db_exec(link, attributes, nullptr, kNotDeleted) != APR_SUCCESS) return APR_EGENERAL;
  return db_exec(link, rows, nullptr, kNotDeleted);
}

// The one remembered row of the row's name (any parent) of a fresh object,
// when that row has the same parent: the row an update of the name and parent
// changes. Null when the object has no row of the name; sets *unknown when
// the memory cannot tell (not fresh, or several rows).
const RememberedRow *single_named_row(ObjectMemory *memory, const RowSpec &spec, bool *unknown) {
  const std::vector<RememberedRow> *rows = memory ? object_memory_rows(memory, spec.object) : nullptr;
  *unknown = rows == nullptr;
  if (rows == nullptr) return nullptr;
  const RememberedRow *found = nullptr;
  for (const RememberedRow &row : *rows) {
    if (row.name_oid != spec.name_oid) continue;
    if (found != nullptr || !same_parent(row, spec.parent_prop)) *unknown = true;
    found = &row;
  }
  if (*unknown) object_memory_forget(memory, spec.object);
  return *unknown ? nullptr : found;
}

int replace_value(apr_pool_t *pool, DBThreadConnection *conn, const RowSpec &spec, const char **prop_oid) {
  ObjectMemory *memory = msdb_object_memory(conn);
  bool unknown = true;
  const RememberedRow *known = single_named_row(memory, spec, &unknown);
  // A fresh object without the row: the update would change nothing.
  if (!unknown && known == nullptr) return find_or_insert_row(pool, conn, spec, false, prop_oid);
  ParentTest parent = parent_test(spec.parent_prop);
  const char *update = db_sql(pool,
                              "update prop set valueOid=%s where oid in (select oid from prop where (nameOid=%s) and "
                              "(objectOid=%s) and (parentOid %s %s))",
                              spec.value_oid, spec.name_oid, spec.object, parent.op, parent.oid);
  int rows = 0;
  if (db_exec(conn->medialib, update, &rows) != APR_SUCCESS) return APR_EGENERAL;
  if (rows > 1) return log4c_fail(MSDB_MODULE, INTERNAL_ERROR_TEXT);
  if (rows == 0) return find_or_insert_row(pool, conn, spec, false, prop_oid);
  if (known != nullptr) {
    if (prop_oid != nullptr) *prop_oid = apr_pstrdup(pool, known->row_oid.c_str());
    object_memory_set_value(memory, spec.object, spec.name, spec.value_oid, spec.value);
    return APR_SUCCESS;
  }
  if (prop_oid == nullptr) return APR_SUCCESS;
  if (db_select_value(pool, conn->medialib,
                      row_lookup(pool, spec.object, spec.name_oid, spec.value_oid, spec.parent_prop, false), prop_oid,
                      nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get prop oid");
  }
  return APR_SUCCESS;
}

const char *value_select(apr_pool_t *pool, const char *columns, const char *name, const char *object) {
  return db_sql(pool,
                "select %s from prop inner join propValue on valueOid=propValue.oid where nameOid=(select oid from "
                "propName where name='%s') and objectOid=%s",
                columns, db_quote(pool, name), object);
}

// A row of a fresh object's list waiting for the pass's insert.
struct PendingRow {
  RowSpec spec;
  const char *key;    // as in ListStore::rows; null for the container flag's row
  const char *value;  // as given, for the container flag
  std::vector<const char *> list_keys;  // the list's entries this element row stands for
};

// What msdb_add_prop_list knows while it stores a list.
struct ListStore {
  apr_pool_t *pool;
  MediaLibraryDB *db;
  DBThreadConnection *conn;
  const char *object;
  // The object had no property row before the list: the only rows it can
  // hold are those stored from the list, kept in rows by
  // "name oid/value oid/parent", so no look-up is needed before an insert,
  // and a pass's rows are inserted together (pending, indexed by key).
  bool fresh;
  apr_hash_t *rows;
  std::vector<PendingRow> pending{};
  apr_hash_t *pending_index = nullptr;  // key -> position in pending, plus one
};

int open_list_store(apr_pool_t *pool, MediaLibraryDB *db, const char *object, ListStore *store) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  ObjectMemory *memory = msdb_object_memory(conn);
  const std::vector<RememberedRow> *known = memory ? object_memory_rows(memory, object) : nullptr;
  bool empty = known != nullptr && known->empty();
  if (known == nullptr) {
    const char *any = nullptr;
    if (db_select_value(pool, conn->medialib, db_sql(pool, "select oid from prop where objectOid=%s limit 1", object),
                        &any, nullptr) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    empty = any == nullptr;
  }
  *store = ListStore{pool, db, conn, object, empty, apr_hash_make(pool), {}, apr_hash_make(pool)};
  return APR_SUCCESS;
}

// Adds to the pending rows the container flag's row that msdb_set_prop
// would insert right after them, so that one statement writes both: when
// exactly one class row among them sets the flag and the object, fresh in
// the connection's memory, has no flag row yet. *taken tells whether it did;
// if not, the flag takes msdb_set_prop's way after the insert.
int take_flag_row(ListStore &store, bool *taken) {
  *taken = false;
  ObjectMemory *memory = msdb_object_memory(store.conn);
  const std::vector<RememberedRow> *rows = memory != nullptr ? object_memory_rows(memory, store.object) : nullptr;
  const char *name = prop_name(PROP_ZENTORIA_IS_CONTAINER);
  if (rows == nullptr ||
      std::any_of(rows->begin(), rows->end(), [name](const RememberedRow &row) { return row.name == name; })) {
    return APR_SUCCESS;
  }
  const char *flag = nullptr;
  for (const PendingRow &pending : store.pending) {
    const char *set = container_flag(pending.spec.name, pending.value);
    if (set == nullptr) continue;
    if (flag != nullptr) return APR_SUCCESS;
    flag = set;
  }
  if (flag == nullptr) return APR_SUCCESS;
  RowSpec spec{store.object, nullptr, nullptr, nullptr, nullptr, nullptr};
  if (intern_both(store.pool, store.db, name, flag, &spec) != APR_SUCCESS ||
      msdb_counters_settle(store.conn, store.object, name) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not update the isContainer flag");
  }
  store.pending.push_back({spec, nullptr, flag, {}});
  *taken = true;
  return APR_SUCCESS;
}

// Inserts the pending rows (their oids are consecutive) and records
// each: in the object's memory, by key, as the element rows of their list
// entries, and through the container flag a class row sets.
int flush_rows(ListStore &store, apr_hash_t *element_rows) {
  apr_pool_t *pool = store.pool;
  bool flag_taken = false;
  if (!store.pending.empty() && take_flag_row(store, &flag_taken) != APR_SUCCESS) return APR_EGENERAL;
  const std::size_t count = store.pending.size();
  auto **args = static_cast<const char **>(apr_palloc(pool, sizeof(char *) * count * 4));
  for (std::size_t i = 0; i < count; ++i) {
    const RowSpec &spec = store.pending[i].spec;
    const char *row_args[] = {spec.parent_prop, spec.name_oid, spec.object, spec.value_oid};
    std::copy(std::begin(row_args), std::end(row_args), args + 4 * i);
  }
  apr_int64_t last = 0;
  const char *reason = nullptr;
  if (count > 0 && db_insert_rows(pool, store.conn->medialib,
                                  "insert into prop (parentOid, nameOid, objectOid, valueOid) values ",
                                  "(%lld, %lld, %lld, %lld)", args,
                                  static_cast<int>(count), &last, &reason) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not insert prop, reason: %s", reason));
  }
  ObjectMemory *memory = msdb_object_memory(store.conn);
  for (std::size_t i = 0; i < count; ++i) {
    const PendingRow &pending = store.pending[i];
    const RowSpec &spec = pending.spec;
    const char *row = str_from_int64(pool, last - static_cast<apr_int64_t>(count - 1 - i));
    if (memory != nullptr) {
      object_memory_row_added(memory, spec.object,
                              {row, spec.name_oid, spec.value_oid, spec.parent_prop ? spec.parent_prop : "",
                               spec.name, spec.value});
    }
    if (pending.key != nullptr) apr_hash_set(store.rows, pending.key, APR_HASH_KEY_STRING, row);
    for (const char *list_key : pending.list_keys) apr_hash_set(element_rows, list_key, APR_HASH_KEY_STRING, row);
  }
  for (const PendingRow &pending : store.pending) {
    if (!flag_taken &&
        update_is_container(pool, store.db, store.object, pending.spec.name, pending.value) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, "Could not update the isContainer flag");
    }
  }
  store.pending.clear();
  apr_hash_clear(store.pending_index);
  return APR_SUCCESS;
}

// msdb_add_prop for one entry of the list (list_key: the entry's key in the
// list for an element, else null); a fresh object's row waits for the pass's
// insert. The container flag is written by msdb_set_prop behind the store's
// back, so that name always takes the checked way, after the rows waiting.
int store_entry(ListStore &store, const char *parent_prop, const char *name, const char *value,
                const char *list_key, apr_hash_t *element_rows) {
  if (!store.fresh || std::strcmp(name, prop_name(PROP_ZENTORIA_IS_CONTAINER)) == 0) {
    const char *row = nullptr;
    if (flush_rows(store, element_rows) != APR_SUCCESS ||
        msdb_add_prop(store.pool, store.db, parent_prop, store.object, 0, name, value, &row) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    if (list_key != nullptr) apr_hash_set(element_rows, list_key, APR_HASH_KEY_STRING, row);
    return APR_SUCCESS;
  }
  RowSpec spec{store.object, nullptr, nullptr, nullptr, nullptr, parent_prop};
  if (intern_both(store.pool, store.db, name, value, &spec) != APR_SUCCESS) return APR_EGENERAL;
  const char *key = apr_pstrcat(store.pool, spec.name_oid, "/", spec.value_oid, "/", parent_prop, nullptr);
  if (const auto *row = static_cast<const char *>(apr_hash_get(store.rows, key, APR_HASH_KEY_STRING))) {
    if (list_key != nullptr) apr_hash_set(element_rows, list_key, APR_HASH_KEY_STRING, row);
    return APR_SUCCESS;
  }
  auto place = reinterpret_cast<std::uintptr_t>(apr_hash_get(store.pending_index, key, APR_HASH_KEY_STRING));
  if (place == 0) {
    if (msdb_counters_settle(store.conn, store.object, name) != APR_SUCCESS) return APR_EGENERAL;
    store.pending.push_back({spec, key, value, {}});
    place = store.pending.size();
    apr_hash_set(store.pending_index, key, APR_HASH_KEY_STRING, reinterpret_cast<void *>(place));
  }
  if (list_key != nullptr) store.pending[place - 1].list_keys.push_back(list_key);
  return APR_SUCCESS;
}

// A value entry of a list: its key, the name and instance the key holds.
struct ListEntry {
  const char *key;
  const char *name;
  int instance;
  const char *value;
};

// The list's value entries by name, then instance. An APR hash iterates in
// an order seeded per process, and rows take their oids in the order they are
// written: this order gives the same files the same rows under the same oids
// in every scan.
std::vector<ListEntry> list_entries(apr_pool_t *pool, PropList *list) {
  std::vector<ListEntry> entries;
  entries.reserve(apr_hash_count(list));
  for (apr_hash_index_t *it = apr_hash_first(pool, list); it != nullptr; it = apr_hash_next(it)) {
    const void *key = nullptr;
    void *value = nullptr;
    apr_hash_this(it, &key, nullptr, &value);
    ListEntry entry{static_cast<const char *>(key), nullptr, -1, static_cast<const char *>(value)};
    prop_split_key(entry.key, &entry.name, &entry.instance);
    if (entry.instance >= 0) entries.push_back(entry);
  }
  std::sort(entries.begin(), entries.end(), [](const ListEntry &a, const ListEntry &b) {
    int order = std::strcmp(a.name, b.name);
    return order != 0 ? order < 0 : a.instance < b.instance;
  });
  return entries;
}

// Pass 1 of msdb_add_prop_list stores elements, pass 2 attributes.
int add_list_pass(ListStore &store, const std::vector<ListEntry> &entries, bool attributes,
                  apr_hash_t *element_rows) {
  for (const ListEntry &entry : entries) {
    const char *name = entry.name;
    const char *at = std::strchr(name, '@');
    bool is_attribute = at != nullptr && at != name;
    if (is_attribute != attributes) continue;
    if (!attributes) {
      if (store_entry(store, nullptr, name, entry.value, entry.key, element_rows) != APR_SUCCESS) {
        return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not add property %s with value %s", name, entry.value));
      }
      continue;
    }
    const char *element_key =
        apr_psprintf(store.pool, "%d/%.*s", entry.instance, static_cast<int>(at - name), name);
    auto *parent = static_cast<const char *>(apr_hash_get(element_rows, element_key, APR_HASH_KEY_STRING));
    if (parent == nullptr || store_entry(store, parent, name, entry.value, nullptr, element_rows) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not add subproperty %s with value %s", name, entry.value));
    }
  }
  return flush_rows(store, element_rows);
}

struct InternTexts {
  const char *select;
  const char *insert;
};
constexpr InternTexts kInternName{"select oid from propName where name = %s;",
                                  "insert into propName (oid, name) values(null,%s);"};
// The insert follows a select that found no such value, so it cannot
// conflict; "or ignore" spares it the statement journal SQLite keeps for a
// statement that could abort halfway through its trigger's writes.
constexpr InternTexts kInternValue{"select oid from propValue where value = %s;",
                                   "insert or ignore into propValue (oid, value) values(null,%s);"};

// Find-or-insert of a name or an escaped value, answered from the
// connection's cache when the oid is known already.
int intern(apr_pool_t *pool, DBThreadConnection *conn, InternKind kind, const char *text, const char **oid) {
  const char *cached = intern_cache_get(conn->intern, kind, text);
  if (cached != nullptr) {
    *oid = apr_pstrdup(pool, cached);
    return APR_SUCCESS;
  }
  const InternTexts &texts = kind == InternKind::name ? kInternName : kInternValue;
  const char *args[] = {text};
  int status = db_find_or_insert_prepared(pool, conn->medialib, texts.select, texts.insert, args, oid);
  if (status == APR_SUCCESS && *oid != nullptr) intern_cache_put(conn->intern, kind, text, *oid);
  return status;
}

// The first remembered value of name: a fresh object's row (null when it has
// none), else a counter written before. False when the memory cannot tell.
bool remembered_counter(apr_pool_t *pool, const ObjectMemory *memory, const char *object, const char *name,
                        const char **value) {
  *value = nullptr;
  if (const std::vector<RememberedRow> *rows = object_memory_rows(memory, object)) {
    for (const RememberedRow &row : *rows) {
      if (row.name != name) continue;
      *value = apr_pstrdup(pool, row.value.c_str());
      break;
    }
    return true;
  }
  const char *counter = object_memory_counter(memory, object, name);
  if (counter != nullptr) *value = apr_pstrdup(pool, counter);
  return counter != nullptr;
}

// A counter not yet written is written before its row is read (a fresh
// object's rows answer from memory and carry its value already).
int write_before_read(DBThreadConnection *conn, const char *object, const char *name) {
  ObjectMemory *memory = msdb_object_memory(conn);
  if (memory == nullptr || object_memory_rows(memory, object) != nullptr ||
      !object_memory_pending_counter(memory, object, name)) {
    return APR_SUCCESS;
  }
  return msdb_counters_write(conn);
}

// The remembered rows of name of a fresh object, in row order; false when
// the object is not fresh (or outside a transaction).
bool remembered_values(DBThreadConnection *conn, const char *object, const char *name,
                       std::vector<const RememberedRow *> *found) {
  ObjectMemory *memory = msdb_object_memory(conn);
  const std::vector<RememberedRow> *rows = memory ? object_memory_rows(memory, object) : nullptr;
  if (rows == nullptr) return false;
  for (const RememberedRow &row : *rows) {
    if (row.name == name) found->push_back(&row);
  }
  return true;
}

// One msdb_increment_prop: the objects, the name, and the current value
// (known: from memory, without a read).
struct Counting {
  apr_pool_t *pool;
  DBThreadConnection *conn;
  const char *const *objects;
  int count;
  const char *name;
  const char *current;
  bool known;
  apr_int64_t number;  // current, parsed
};

int read_counter(Counting &c) {
  if (!c.known && counter_read(c.pool, c.conn->medialib, c.objects, c.count, c.name, &c.current) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get prop value");
  }
  c.number = 0;
  if (c.current == nullptr) {
    c.current = "0";
  } else if (!parse_int64(c.current, &c.number)) {
    // The counter is pasted into the statement unquoted, so it must be a number.
    return log4c_fail(MSDB_MODULE, INTERNAL_ERROR_TEXT);
  }
  return APR_SUCCESS;
}

// SQLite stores the sum as its decimal text, so the sum is interned as that
// text, through the statements every value takes.
int intern_sum(Counting &c, int delta, const char **sum, const char **value_oid) {
  *sum = str_from_int64(c.pool, c.number + delta);
  if (intern(c.pool, c.conn, InternKind::value, *sum, value_oid) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get prop value");
  }
  return APR_SUCCESS;
}

int store_counter(Counting &c, const char *value_oid) {
  int rows = 0;
  if (counter_store(c.pool, c.conn->medialib, value_oid, c.objects, c.count, c.name, &rows) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return rows > 0 ? APR_SUCCESS : APR_EGENERAL;
}

}  // namespace

int msdb_intern_name(apr_pool_t *pool, MediaLibraryDB *db, const char *name, const char **oid) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  return intern(pool, conn, InternKind::name, name, oid);
}

int msdb_intern_value(apr_pool_t *pool, MediaLibraryDB *db, const char *escaped_value,
                      const char **oid) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  return intern(pool, conn, InternKind::value, escaped_value, oid);
}

int msdb_add_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop, const char *object,
                  int slot, const char *name, const char *value, const char **prop_oid) {
  return add_or_ensure(pool, db, parent_prop, object, slot, name, value, false, prop_oid);
}

int msdb_ensure_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop,
                     const char *object, int slot, const char *name, const char *value,
                     const char **prop_oid) {
  return add_or_ensure(pool, db, parent_prop, object, slot, name, value, true, prop_oid);
}

int msdb_set_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop, const char *object,
                  int slot, const char *name, const char *value, const char **prop_oid) {
  if (prop_oid != nullptr) *prop_oid = nullptr;
  name = resolve_name(slot, name);
  if (name == nullptr || !oids_valid(object, parent_prop)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  RowSpec spec{object, nullptr, nullptr, nullptr, nullptr, parent_prop};
  if (intern_both(pool, db, name, value, &spec) != APR_SUCCESS) return APR_EGENERAL;
  if (value == nullptr) return delete_named(pool, conn, spec.name_oid, object, parent_prop);
  if (msdb_counters_settle(conn, object, name) != APR_SUCCESS ||
      replace_value(pool, conn, spec, prop_oid) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (update_is_container(pool, db, object, name, value) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not update the isContainer flag");
  }
  return APR_SUCCESS;
}

int msdb_set_prop_subtree(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int slot,
                          const char *name, const char *value) {
  if (!db_oid_valid(object)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  DbCursor cursor;
  const char *oid = nullptr;
  const char *select =
      db_sql(pool, "select distinct objectOid as oid from ancestor where ancestorObjectOid=%s union select %s as oid",
             object, object);
  if (db_select_value(pool, conn->medialib, select, &oid, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get subtree oids");
  }
  for (; oid != nullptr; oid = db_next_value(pool, &cursor)) {
    if (msdb_set_prop(pool, db, nullptr, oid, slot, name, value, nullptr) != APR_SUCCESS) {
      return log4c_fail(MSDB_MODULE, log4c_sprintf("Could not get alter prop for object oid %s", oid));
    }
  }
  return APR_SUCCESS;
}

int msdb_set_prop_value_by_oid(apr_pool_t *pool, MediaLibraryDB *db, const char *object,
                               const char *prop_oid, const char *value) {
  if (value == nullptr || !db_oid_valid(object) || !db_oid_valid(prop_oid)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *value_oid = nullptr;
  if (msdb_intern_value(pool, db, xml_escape(pool, value), &value_oid) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not find prop value or insert it");
  }
  // The row's name is not known here.
  if (ObjectMemory *memory = msdb_object_memory(conn)) {
    if (msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
    object_memory_forget(memory, object);
    object_memory_forget_counters(memory);
  }
  const char *failure = "Could not execute SQL statement - prop was not updated, reason: %s";
  int rows = 0;
  if (db_exec(conn->medialib, db_sql(pool, "update prop set valueOid=%s where oid=%s;", value_oid, prop_oid), &rows,
              failure) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (rows < 1) return log4c_fail(MSDB_MODULE, log4c_sprintf(failure, "no row was changed"));
  if (update_is_container(pool, db, object, nullptr, value) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not update the isContainer flag");
  }
  return APR_SUCCESS;
}

int msdb_delete_prop_row(apr_pool_t *pool, MediaLibraryDB *db, const char *prop_oid) {
  if (!db_oid_valid(prop_oid)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  if (msdb_graph_changed(conn) != APR_SUCCESS) return APR_EGENERAL;
  int rows = 0;
  if (db_exec(conn->medialib, db_sql(pool, "delete from prop where (parentOid=%s) or (oid=%s);", prop_oid, prop_oid),
              &rows, kNotDeleted) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return rows > 0 ? APR_SUCCESS : log4c_fail(MSDB_MODULE, log4c_sprintf(kNotDeleted, "no row was deleted"));
}

int msdb_increment_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *const *objects, int count,
                        int slot, const char *name, int delta) {
  name = resolve_name(slot, name);
  if (name == nullptr || count < 1) return APR_EGENERAL;
  for (int i = 0; i < count; ++i) {
    if (!db_oid_valid(objects[i])) return APR_EGENERAL;
  }
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  ObjectMemory *memory = msdb_object_memory(conn);
  if (memory != nullptr && count > 1) {
    // Several objects share one statement: what is pending goes first.
    if (msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
    for (int i = 0; i < count; ++i) object_memory_forget(memory, objects[i]);
    object_memory_forget_counters(memory);
  }
  Counting counting{pool, conn, objects, count, name, nullptr, false, 0};
  if (memory != nullptr && count == 1) {
    counting.known = remembered_counter(pool, memory, objects[0], name, &counting.current);
  }
  // An object known to lack the row: the update would change nothing.
  if (counting.known && counting.current == nullptr) return APR_EGENERAL;
  const char *sum = nullptr;
  const char *value_oid = nullptr;
  if (read_counter(counting) != APR_SUCCESS || intern_sum(counting, delta, &sum, &value_oid) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (!counting.known && store_counter(counting, value_oid) != APR_SUCCESS) return APR_EGENERAL;
  if (memory == nullptr || count > 1) return APR_SUCCESS;
  if (object_memory_counters_full(memory)) {
    if (msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
    object_memory_forget_counters(memory);
  }
  object_memory_set_counter(memory, objects[0], name, sum, counting.known ? value_oid : nullptr);
  object_memory_set_value(memory, objects[0], name, value_oid, sum);
  return APR_SUCCESS;
}

int msdb_get_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int slot,
                  const char *name, int raw, const char **value, const char **prop_oid) {
  *value = nullptr;
  if (prop_oid != nullptr) *prop_oid = nullptr;
  name = resolve_name(slot, name);
  if (name == nullptr || !db_oid_valid(object)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  const char *row[2] = {nullptr, nullptr};
  std::vector<const RememberedRow *> known;
  if (write_before_read(conn, object, name) != APR_SUCCESS) return APR_EGENERAL;
  if (remembered_values(conn, object, name, &known)) {
    if (!known.empty()) {
      row[0] = apr_pstrdup(pool, known.front()->value.c_str());
      row[1] = apr_pstrdup(pool, known.front()->row_oid.c_str());
    }
  } else if (db_select_row(pool, conn->medialib, value_select(pool, "propValue.value, prop.oid", name, object), 2, row,
                           nullptr) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get prop value");
  }
  if (row[0] == nullptr) return APR_SUCCESS;
  *value = raw ? row[0] : db_unescape(pool, row[0]);
  if (prop_oid != nullptr) *prop_oid = row[1];
  return APR_SUCCESS;
}

int msdb_get_prop_values(apr_pool_t *pool, MediaLibraryDB *db, const char *object, int slot,
                         const char *name, int raw, const char **values, int *count) {
  int capacity = *count;
  *count = 0;
  name = resolve_name(slot, name);
  if (name == nullptr || !db_oid_valid(object)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr) return APR_EGENERAL;
  std::vector<const RememberedRow *> known;
  if (write_before_read(conn, object, name) != APR_SUCCESS) return APR_EGENERAL;
  if (remembered_values(conn, object, name, &known)) {
    for (const RememberedRow *row : known) {
      if (*count == capacity) break;
      const char *value = apr_pstrdup(pool, row->value.c_str());
      values[(*count)++] = raw ? value : db_unescape(pool, value);
    }
    return APR_SUCCESS;
  }
  DbCursor cursor;
  const char *value = nullptr;
  const char *select = apr_pstrcat(pool, value_select(pool, "propValue.value", name, object), ";", nullptr);
  if (db_select_value(pool, conn->medialib, select, &value, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "Could not get values of property");
  }
  for (; value != nullptr && *count < capacity; value = db_next_value(pool, &cursor)) {
    values[(*count)++] = raw ? value : db_unescape(pool, value);
  }
  return APR_SUCCESS;
}

int msdb_find_prop(apr_pool_t *pool, MediaLibraryDB *db, const char *parent_prop,
                   const char *object, int slot, const char *value, int like,
                   const char **prop_oid) {
  *prop_oid = nullptr;
  const char *name = resolve_name(slot, nullptr);
  if (name == nullptr || !oids_valid(object, parent_prop)) return APR_EGENERAL;
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write_named(conn, &name, 1) != APR_SUCCESS) return APR_EGENERAL;
  ParentTest parent = parent_test(parent_prop);
  const char *select = db_sql(pool,
                              "select oid from prop where parentOid %s %s and objectOid=%s and valueOid in (select oid "
                              "from propValue where value %s '%s') and nameOid=(select oid from propName where name='%s')",
                              parent.op, parent.oid, object, like ? "like" : "=", db_escape(pool, value), name);
  return db_select_value(pool, conn->medialib, select, prop_oid, nullptr);
}

int msdb_add_prop_list(apr_pool_t *pool, MediaLibraryDB *db, const char *object, PropList *list) {
  if (!db_oid_valid(object)) return APR_EGENERAL;
  ListStore store;
  if (open_list_store(pool, db, object, &store) != APR_SUCCESS) return APR_EGENERAL;
  apr_hash_t *element_rows = apr_hash_make(pool);
  const std::vector<ListEntry> entries = list_entries(pool, list);
  if (add_list_pass(store, entries, false, element_rows) != APR_SUCCESS) return APR_EGENERAL;
  return add_list_pass(store, entries, true, element_rows);
}

int msdb_value_counts(apr_pool_t *pool, MediaLibraryDB *db, const char *const *value_oids,
                      int count, int *counts) {
  for (int i = 0; i < count; ++i) {
    counts[i] = 0;
    if (!db_oid_valid(value_oids[i])) return APR_EGENERAL;
  }
  DBThreadConnection *conn = msdb_connection_or_log(db);
  if (conn == nullptr || msdb_counters_write(conn) != APR_SUCCESS) return APR_EGENERAL;
  const char *select = db_sql(pool,
                              "select prop.valueoid, count(prop.objectoid) from prop where prop.valueoid in (%s) group "
                              "by prop.valueoid",
                              str_join(pool, value_oids, count));
  const char *row[2];
  DbCursor cursor;
  if (db_select_row(pool, conn->medialib, select, 2, row, &cursor) != APR_SUCCESS) {
    return log4c_fail(MSDB_MODULE, "could not get counts from the db");
  }
  if (row[0] == nullptr) {
    LOG4C(kModule, LOG4C_WARN, "db is empty, could not find any objects in the medialib");
    return APR_SUCCESS;
  }
  do {
    int position = -1;
    for (int i = 0; i < count && position < 0; ++i) position = std::strcmp(value_oids[i], row[0]) == 0 ? i : -1;
    int number = 0;
    if (position < 0 || !parse_int(row[1], &number)) {
      LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("unknown item oid \"%s\", ignoring", row[0]));
      continue;
    }
    counts[position] = number;
  } while (db_next_row(pool, &cursor, 2, row));
  return APR_SUCCESS;
}
