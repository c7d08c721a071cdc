// Grouping of query rows into property lists, the synthetic DIDL-Lite
// attributes, filter admission, and the document writer over them.
#include <apr_strings.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "CommonUserMessage.h"
#include "MSDBIdPath.h"
#include "MSDBQuery.h"
#include "MSDBQueryRows.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr std::string_view kFixedNames[] = {"@id",         "@parentID",   "dc:title",
                                            "upnp:class",  "@restricted", "upnp:storageUsed"};
constexpr std::string_view kOwnNamespace = "zentoria";
constexpr std::string_view kContainerClass = "object.container";
constexpr std::string_view kMinimalPrefix = "x_minimal:";
constexpr std::string_view kByValueMode = "x_by_val";

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool istarts_with(const char *text, std::string_view prefix) {
  return text != nullptr && strncasecmp(text, prefix.data(), prefix.size()) == 0;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Calls visit on each entry of a comma-separated list until it returns true.
template <typename Visit>
bool any_entry(std::string_view list, Visit visit) {
  while (!list.empty()) {
    size_t comma = list.find(',');
    if (visit(trimmed(list.substr(0, comma)))) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

std::string_view base_of(std::string_view name) {
  size_t at = name.find('@');
  return at == 0 || at == std::string_view::npos ? name : name.substr(0, at);
}

bool listed(std::string_view list, std::string_view name) {
  return any_entry(list, [&](std::string_view entry) { return iequals(entry, name); });
}

// An element is admitted by any listed attribute of it.
bool admitted_element(std::string_view list, std::string_view name) {
  return any_entry(list, [&](std::string_view entry) {
    return entry.find('@') != std::string_view::npos && iequals(base_of(entry), name);
  });
}

struct RankedName {
  const char *name;
  int slot;
};

// The vocabulary's names ordered without case (equal names by slot), made
// once: ranking every property of every object by a scan of the vocabulary
// was a tenth of a Browse.
const std::vector<RankedName> &names_by_text() {
  static const std::vector<RankedName> names = [] {
    std::vector<RankedName> made;
    for (int slot = 0; slot < PROP_SLOT_COUNT; slot++) {
      if (PropNameTable[slot] != nullptr) made.push_back({PropNameTable[slot], slot});
    }
    std::stable_sort(made.begin(), made.end(),
                     [](const RankedName &a, const RankedName &b) { return strcasecmp(a.name, b.name) < 0; });
    return made;
  }();
  return names;
}

// Vocabulary position of a name (the first slot of that name): writes
// records in a stable, natural order.
int vocabulary_rank(const char *name) {
  const std::vector<RankedName> &names = names_by_text();
  auto found = std::lower_bound(names.begin(), names.end(), name,
                                [](const RankedName &a, const char *b) { return strcasecmp(a.name, b) < 0; });
  return found != names.end() && strcasecmp(found->name, name) == 0 ? found->slot : PROP_SLOT_COUNT;
}

struct ListEntry {
  const char *name;
  int instance;
  const char *value;
  int rank;
};

std::vector<ListEntry> sorted_entries(apr_pool_t *pool, PropList *list) {
  std::vector<ListEntry> entries;
  for (apr_hash_index_t *hi = apr_hash_first(pool, list); hi != nullptr; hi = apr_hash_next(hi)) {
    const void *key = nullptr;
    void *value = nullptr;
    apr_hash_this(hi, &key, nullptr, &value);
    ListEntry entry{nullptr, -1, static_cast<const char *>(value), 0};
    prop_split_key(static_cast<const char *>(key), &entry.name, &entry.instance);
    if (entry.instance < 0) continue;  // an instance count, not a value
    entry.rank = vocabulary_rank(entry.name);
    entries.push_back(entry);
  }
  std::sort(entries.begin(), entries.end(), [](const ListEntry &a, const ListEntry &b) {
    if (a.rank != b.rank) return a.rank < b.rank;
    if (int c = strcasecmp(a.name, b.name); c != 0) return c < 0;
    return a.instance < b.instance;
  });
  return entries;
}

void write_record(SerializeBuffer *buffer, apr_pool_t *pool, PropList *list, const char *filter,
                  int minimal) {
  serialize_new_record(buffer, nullptr);
  for (const ListEntry &entry : sorted_entries(pool, list)) {
    if (istarts_with(entry.name, kOwnNamespace)) continue;
    if (!msdb_prop_filter_admits(filter, entry.name, minimal)) continue;
    serialize_add(buffer, entry.name, entry.instance, entry.value);
  }
}

// The request id whose oid is the first segment of text, joined with the
// rest of text.
const char *object_id_path(apr_pool_t *pool, const char *text, const char *const *ids, int id_count) {
  const char *slash = std::strchr(text, '/');
  std::string_view first(text, slash == nullptr ? std::strlen(text) : slash - text);
  for (int i = 0; i < id_count; i++) {
    const char *oid = nullptr;
    msdb_id_split(pool, ids[i], nullptr, &oid);
    if (first != oid) continue;
    return slash == nullptr ? ids[i] : msdb_id_join(pool, ids[i], slash + 1);
  }
  LOG4C("MSDB", LOG4C_ERROR, INTERNAL_ERROR_TEXT);
  return text;
}

}  // namespace

bool msdb_prop_filter_admits(const char *filter, const char *name, int minimal) {
  if (filter == nullptr || name == nullptr) return false;
  std::string_view list = filter;
  if (list.starts_with(kMinimalPrefix)) list.remove_prefix(kMinimalPrefix.size());
  if (trimmed(list) == "*") return true;
  if (listed(list, name)) return true;
  if (minimal) return iequals(name, "@id");
  for (std::string_view fixed : kFixedNames) {
    if (iequals(fixed, name)) return true;
  }
  if (admitted_element(list, name)) return true;
  return iequals(name, "res@protocolInfo") && (listed(list, "res") || admitted_element(list, "res"));
}

namespace {

// The next object's rows into read, which each call reuses.
bool read_object(apr_pool_t *pool, DbRowReader *reader, int unescape, std::vector<PropRow> &read,
                 const char **id_text) {
  if (!reader->have_row) return false;
  *id_text = reader->row[0];
  read.clear();
  const char *order = nullptr;
  while (reader->have_row && strcasecmp(reader->row[0], *id_text) == 0) {
    read.push_back({reader->row[2], unescape ? db_unescape(pool, reader->row[3]) : reader->row[3],
                    order == nullptr || std::strcmp(order, reader->row[1]) != 0});
    order = reader->row[1];
    reader->have_row = db_next_row(pool, &reader->cursor, 4, reader->row) == 1;
  }
  return true;
}

PropList *list_of(apr_pool_t *pool, const PropRow *rows, int count) {
  PropList *list = prop_list_create(pool);
  for (int i = 0; i < count; ++i) {
    if (rows[i].new_instance) prop_add_instance(pool, list, rows[i].name);
    prop_set(pool, list, rows[i].name, rows[i].value);
  }
  return list;
}

thread_local std::vector<PropRow> t_read;

// Whether a row called row_name counts among the instances of the element
// name (length bytes): its own rows and its attributes' do, as list_of
// counts instances under the base name.
bool counts_for(const char *row_name, const char *name, std::size_t length) {
  return std::strncmp(row_name, name, length) == 0 && (row_name[length] == '\0' || row_name[length] == '@');
}

}  // namespace

PropList *msdb_prop_rows_list(apr_pool_t *pool, const PropRows *rows) {
  return rows != nullptr ? list_of(pool, rows->rows, rows->count) : prop_list_create(pool);
}

int msdb_prop_rows_count(const PropRows *rows, int slot) {
  const char *name = prop_name(slot);
  if (rows == nullptr || name == nullptr) return 0;
  const std::size_t length = std::strlen(name);
  int count = 0;
  for (int i = 0; i < rows->count; ++i) {
    if (rows->rows[i].new_instance && counts_for(rows->rows[i].name, name, length)) ++count;
  }
  return count;
}

// The last value a row of the name set while the instance was the newest,
// as list_of's prop_set calls leave it.
const char *msdb_prop_rows_get(const PropRows *rows, int slot, int instance) {
  const char *name = prop_name(slot);
  if (rows == nullptr || name == nullptr) return nullptr;
  const std::size_t length = std::strlen(name);
  int count = 0;
  const char *value = nullptr;
  for (int i = 0; i < rows->count; ++i) {
    const PropRow &row = rows->rows[i];
    if (!counts_for(row.name, name, length)) continue;
    if (row.new_instance) ++count;
    if (row.name[length] == '\0' && count - 1 == instance) value = row.value;
  }
  return value;
}

bool db_rows_next_object(apr_pool_t *pool, DbRowReader *reader, int unescape, PropList **list,
                         const char **id_text) {
  if (!read_object(pool, reader, unescape, t_read, id_text)) return false;
  *list = list_of(pool, t_read.data(), static_cast<int>(t_read.size()));
  return true;
}

void db_rows_start(apr_pool_t *pool, DbRowReader *reader) {
  reader->have_row = db_next_row(pool, &reader->cursor, 4, reader->row) == 1;
}

void db_add_synthetic_props(apr_pool_t *pool, PropList *list, const char *id_path) {
  const char *parent = nullptr;
  msdb_id_split(pool, id_path, &parent, nullptr);
  prop_set_single(pool, list, PROP_ID, id_path);
  prop_set_single(pool, list, PROP_PARENT_ID, parent);
  prop_set_single(pool, list, PROP_RESTRICTED, "true");
  if (!istarts_with(prop_get(pool, list, PROP_UPNP_CLASS, 0), kContainerClass)) return;
  if (prop_count(list, PROP_CHILD_COUNT) == 0) prop_add(pool, list, PROP_CHILD_COUNT, "0");
  prop_set_single(pool, list, PROP_SEARCHABLE, "true");
  prop_set_single(pool, list, PROP_UPNP_WRITE_STATUS, "UNKNOWN");
}

const char *serialize_db_result(DbCursor *rows, apr_pool_t *pool, DbObjectCallback callback,
                                void *value, const char *filter, const char *const *ids,
                                int id_count, SerializeFormat format,
                                const DbSerializeOptions *options, int *objects) {
  Pool scratch(pool, "MSDB");
  const int minimal = options != nullptr && options->minimal;
  SerializeBuffer *buffer = serialize_create(pool, format);
  DbRowReader reader{*rows, {}, false};
  db_rows_start(scratch, &reader);
  *objects = 0;
  PropList *list = nullptr;
  const char *id_text = nullptr;
  while (db_rows_next_object(scratch, &reader, 0, &list, &id_text)) {
    db_add_synthetic_props(scratch, list, object_id_path(scratch, id_text, ids, id_count));
    if (!minimal && callback != nullptr) list = callback(scratch, value, list);
    if (list == nullptr) continue;
    write_record(buffer, scratch, list, filter, minimal);
    ++*objects;
  }
  SerializeOptions out{};
  if (options != nullptr) out = options->serialize;
  if (options != nullptr && istarts_with(options->mode, kByValueMode)) out.compare = serialize_compare_value_nocase;
  const char *document = nullptr;
  serialize_output(buffer, pool, &out, &document);
  return document;
}
