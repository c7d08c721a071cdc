// The page of a subtree search with many hits, without touching each hit
// in SQL. Three index walks stepped straight from SQLite (no copy of their
// rows), each testing marks inside SQLite, and joined in memory: the objects
// below the containers (counted there, none stepped out), each titled
// object's first title row in value order (its smallest value oid, handed
// over inside SQLite), and the hits' title values in title order (the title
// keys, MSDBSchema), which is followed until the page is full. The first two
// do not depend on the criteria: the connection's memory keeps them, adding
// new rows and looking again at the objects whose routes or titles the shape
// log names (MSDBQueryMemory), so a later search below the same containers
// walks only the title keys, the new rows and those objects. The
// hits' title order, ties and count are those of the grouped statement it
// replaces, in a library whose title rows name values that exist (mlcheck's
// dangling rows aside). Bit sets over oids and
// the hits' titles live on the calling thread's heap for the call only.
#include <apr_strings.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "CommonNumbers.h"
#include "MSDBQueryMemory.h"
#include "MSDBQueryRows.h"
#include "MSDBSchema.h"

namespace {

// The objects below the containers are taken once each (db_take) inside
// SQLite and counted there, not stepped out.
constexpr const char *kBelowRows =
    "select count(*) from ancestor where ancestorObjectOid in (%s) and db_take(objectOid)";
// What remembered objects below lack after new ancestor rows: the objects of
// rows past an oid (a range of the table, whose new rows lie at its end), and
// the objects past the bits kept.
constexpr const char *kNewRoutes =
    "select objectOid from ancestor not indexed where oid > %" APR_INT64_T_FMT " and ancestorObjectOid in (%s)";
constexpr const char *kRoutesOfNewObjects =
    "select objectOid from ancestor where ancestorObjectOid in (%s) and objectOid >= %" APR_SIZE_T_FMT;
// The objects the shape log names that are still below the containers, and
// their first titles now (through index prop_name_object, as below).
constexpr const char *kStillBelow =
    "select objectOid from ancestor where objectOid in (%s) and +ancestorObjectOid in (%s)";
constexpr const char *kFirstTitlesNow =
    "select min(valueOid), objectOid from prop where nameOid = 1 and nameOid > 0 and objectOid in (%s) group by "
    "objectOid";
// The objects looked at again at most, against walking everything: a seek
// or two each, where the walks step a row or two per object of the library.
constexpr size_t kMostLogged = 2048;
// The title rows in value order, through index prop_title, which holds the
// rows of name oid 1: the walk runs only where that is dc:title and the
// index is there (a library whose upgrade failed would sort them all). An
// object's first row in this order holds its first title (its smallest
// value oid).
constexpr const char *kTitleNameOid =
    "select oid from propName where name='dc:title' and exists (select 1 from sqlite_master where type='index' and "
    "name='prop_title')";
// The rows are handed over inside SQLite (db_visit) in the index's order.
constexpr const char *kTitleRows =
    "select count(*) from prop indexed by prop_title where nameOid = 1 and db_visit(valueOid, objectOid)";
// What remembered titles lack after new prop rows, as kNewRoutes; the
// objects past the bits kept are found through index prop_name_object, which
// the planner takes only when the query repeats its condition nameOid > 0.
constexpr const char *kNewTitleRows =
    "select valueOid, objectOid from prop not indexed where oid > %" APR_INT64_T_FMT " and nameOid = 1";
constexpr const char *kTitleRowsOfNewObjects =
    "select valueOid, objectOid from prop where nameOid = 1 and nameOid > 0 and objectOid >= %" APR_SIZE_T_FMT;
// The title keys hold the texts of title values only; a library without
// them walks every value in that order (index propValue_nocase).
constexpr const char *kValuesInTitleOrder =
    "select oid, value from %s where db_marked(oid) order by value collate nocase";
constexpr const char *kLastValue = "select max(oid) from propValue";

using Oid = sqlite3_int64;

bool has(const std::vector<bool> &bits, Oid oid) {
  return oid >= 0 && static_cast<size_t>(oid) < bits.size() && bits[static_cast<size_t>(oid)];
}

// A title's sort key: lower() and NOCASE fold the same ASCII letters, so
// keys equal under NOCASE are the equal titles of the grouped statement.
struct Key {
  std::string text;
  bool null = true;

  bool same(const unsigned char *other, int bytes) const {
    if (other == nullptr || null) return other == nullptr && null;
    return text.size() == static_cast<size_t>(bytes) &&
           sqlite3_strnicmp(text.data(), reinterpret_cast<const char *>(other), bytes) == 0;
  }
  void assign(const unsigned char *other, int bytes) {
    null = other == nullptr;
    text.assign(null ? "" : reinterpret_cast<const char *>(other), null ? 0 : static_cast<size_t>(bytes));
  }
};

// Hits of equal titles, written in object order into the page's window.
struct Page {
  unsigned offset;
  unsigned count;  // 0: all from offset on
  std::string *oids;
  unsigned seen = 0;
  std::vector<Oid> ties;

  bool full() const { return count != 0 && seen >= offset + count; }
  void flush() {
    std::sort(ties.begin(), ties.end());
    for (Oid oid : ties) {
      if (seen >= offset && !full()) {
        if (!oids->empty()) *oids += ',';
        *oids += std::to_string(oid);
      }
      ++seen;
    }
    ties.clear();
  }
};

// Brings kept objects below up to the library at the last sync (last, the
// largest ancestor oid then), with bits for size objects at least.
int add_routes(apr_pool_t *pool, DbLink link, const char *containers, size_t size, apr_int64_t last,
               KeptBelow *kept) {
  std::vector<bool> &objects = kept->objects;
  const size_t known = objects.size();
  if (size > known) objects.resize(size);
  const auto mark = [&objects](sqlite3_stmt *row) {
    const Oid oid = sqlite3_column_int64(row, 0);
    if (oid >= 0 && static_cast<size_t>(oid) < objects.size()) objects[static_cast<size_t>(oid)] = true;
    return true;
  };
  if (db_stream(link, apr_psprintf(pool, kNewRoutes, kept->through, containers), mark) != APR_SUCCESS ||
      (size > known && db_stream(link, apr_psprintf(pool, kRoutesOfNewObjects, containers, known), mark) !=
                           APR_SUCCESS)) {
    objects.resize(known);
    return APR_EGENERAL;
  }
  kept->through = last;
  return APR_SUCCESS;
}

// The logged objects (MSDBQueryMemory) of kind since after below size
// objects, also joined by "," into list; *known as query_memory_logged.
int logged_objects(apr_pool_t *pool, DbLink link, QueryMemory *memory, ShapeLog kind, apr_int64_t after, size_t size,
                   std::vector<Oid> *changed, std::string *list, bool *known) {
  if (query_memory_logged(pool, memory, link, kind, after, kMostLogged, changed, known) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  std::erase_if(*changed, [size](Oid oid) { return static_cast<size_t>(oid) >= size; });
  for (Oid oid : *changed) {
    if (!list->empty()) *list += ',';
    *list += std::to_string(oid);
  }
  return APR_SUCCESS;
}

// Looks again at the kept bits of the objects whose routes the log names;
// *known false when it cannot tell them (kept left as it was).
int replay_routes(apr_pool_t *pool, DbLink link, QueryMemory *memory, const char *containers, KeptBelow *kept,
                  bool *known) {
  std::vector<bool> &objects = kept->objects;
  std::vector<Oid> changed;
  std::string list;
  if (logged_objects(pool, link, memory, ShapeLog::kRoutes, kept->logged, objects.size(), &changed, &list, known) !=
      APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (!*known) return APR_SUCCESS;
  if (!changed.empty()) {
    std::vector<bool> still(objects.size());
    const char *sql = apr_psprintf(pool, kStillBelow, list.c_str(), containers);
    if (db_stream(link, sql, [&still](sqlite3_stmt *row) {
          still[static_cast<size_t>(sqlite3_column_int64(row, 0))] = true;
          return true;
        }) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    for (Oid oid : changed) objects[static_cast<size_t>(oid)] = still[static_cast<size_t>(oid)];
  }
  kept->logged = query_memory_last_log(memory);
  return APR_SUCCESS;
}

// The objects below the containers among the first size oids, a bit each:
// remembered (and brought up to new ancestor rows outside a transaction), or
// walked and then remembered.
int below(apr_pool_t *pool, DbLink link, QueryMemory *memory, const char *containers, size_t size,
          std::vector<bool> *walked, const std::vector<bool> **objects) {
  KeptBelow *kept = memory != nullptr ? query_memory_below(memory, containers) : nullptr;
  if (kept != nullptr) {
    const apr_int64_t last = query_memory_last_route(memory);
    bool current = kept->through >= last && kept->objects.size() >= size &&
                   kept->logged == query_memory_last_log(memory);
    if (!current && query_memory_keeping(memory)) {
      if (replay_routes(pool, link, memory, containers, kept, &current) != APR_SUCCESS ||
          (current && add_routes(pool, link, containers, size, last, kept) != APR_SUCCESS)) {
        return APR_EGENERAL;
      }
    }
    *objects = &kept->objects;
    if (current) return APR_SUCCESS;
  }
  std::vector<bool> unreached(size, true);
  const int status = db_with_takes(link, unreached, [&] {
    return db_stream(link, apr_psprintf(pool, kBelowRows, containers), [](sqlite3_stmt *) { return false; });
  });
  if (status != APR_SUCCESS) return status;
  unreached.flip();
  *walked = std::move(unreached);
  const std::vector<bool> *stored =
      memory != nullptr ? query_memory_keep_below(memory, containers, std::move(*walked)) : nullptr;
  *objects = stored != nullptr ? stored : walked;
  return APR_SUCCESS;
}

TitleRow title_row(Oid value, Oid object) {
  const bool held = value >= 0 && value < UINT32_MAX;
  return {held ? static_cast<std::uint32_t>(value) : UINT32_MAX, static_cast<std::uint32_t>(object)};
}

bool in_value_order(const TitleRow &a, const TitleRow &b) {
  return a.value != b.value ? a.value < b.value : a.object < b.object;
}

// Merges added title rows into rows (in value order, an object's first title
// each): an object with a new row keeps the smaller of its titles.
void merge_titles(std::vector<TitleRow> added, std::vector<TitleRow> *rows) {
  const auto by_object = [](const TitleRow &a, const TitleRow &b) {
    return a.object != b.object ? a.object < b.object : a.value < b.value;
  };
  std::sort(added.begin(), added.end(), by_object);
  added.erase(std::unique(added.begin(), added.end(), [](const TitleRow &a, const TitleRow &b) {
                return a.object == b.object;
              }), added.end());
  std::vector<bool> touched(added.empty() ? 0 : size_t{added.back().object} + 1);
  for (const TitleRow &row : added) touched[row.object] = true;
  std::vector<TitleRow> untouched;
  untouched.reserve(rows->size());
  for (const TitleRow &row : *rows) {
    if (row.object >= touched.size() || !touched[row.object]) {
      untouched.push_back(row);
      continue;
    }
    auto same = std::lower_bound(added.begin(), added.end(), TitleRow{0, row.object}, by_object);
    same->value = std::min(same->value, row.value);
  }
  std::sort(added.begin(), added.end(), in_value_order);
  rows->clear();
  std::merge(untouched.begin(), untouched.end(), added.begin(), added.end(), std::back_inserter(*rows),
             in_value_order);
}

// Brings kept titles up to the library at the last sync (last, the largest
// prop oid then), for size objects at least, as add_routes.
int add_titles(apr_pool_t *pool, DbLink link, size_t size, apr_int64_t last, KeptTitles *kept) {
  const size_t known = kept->objects, objects = std::max(size, known);
  std::vector<TitleRow> added;
  const auto take = [&](sqlite3_stmt *row) {
    const Oid object = sqlite3_column_int64(row, 1);
    if (object >= 0 && static_cast<size_t>(object) < objects) {
      added.push_back(title_row(sqlite3_column_int64(row, 0), object));
    }
    return true;
  };
  if (db_stream(link, apr_psprintf(pool, kNewTitleRows, kept->through), take) != APR_SUCCESS ||
      (size > known && db_stream(link, apr_psprintf(pool, kTitleRowsOfNewObjects, known), take) != APR_SUCCESS)) {
    return APR_EGENERAL;
  }
  merge_titles(std::move(added), &kept->rows);
  kept->objects = objects;
  kept->through = last;
  return APR_SUCCESS;
}

// Looks again at the kept first titles of the objects whose title rows the
// log names, as replay_routes.
int replay_titles(apr_pool_t *pool, DbLink link, QueryMemory *memory, KeptTitles *kept, bool *known) {
  std::vector<Oid> changed;
  std::string list;
  if (logged_objects(pool, link, memory, ShapeLog::kTitles, kept->logged, kept->objects, &changed, &list, known) !=
      APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (!*known) return APR_SUCCESS;
  if (!changed.empty()) {
    std::vector<TitleRow> now;
    if (db_stream(link, apr_psprintf(pool, kFirstTitlesNow, list.c_str()), [&now](sqlite3_stmt *row) {
          now.push_back(title_row(sqlite3_column_int64(row, 0), sqlite3_column_int64(row, 1)));
          return true;
        }) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    std::vector<bool> looked(kept->objects);
    for (Oid oid : changed) looked[static_cast<size_t>(oid)] = true;
    std::erase_if(kept->rows, [&looked](const TitleRow &row) { return looked[row.object]; });
    merge_titles(std::move(now), &kept->rows);
  }
  kept->logged = query_memory_last_log(memory);
  return APR_SUCCESS;
}

// The first title row of each object below size, in value order:
// remembered (and brought up to new title rows outside a transaction), or
// walked and then remembered.
int first_titles(apr_pool_t *pool, DbLink link, QueryMemory *memory, size_t size, std::vector<TitleRow> *walked,
                 const std::vector<TitleRow> **titles) {
  KeptTitles *kept = memory != nullptr ? query_memory_titles(memory) : nullptr;
  if (kept != nullptr) {
    const apr_int64_t last = query_memory_last_prop(memory);
    bool current = kept->through >= last && kept->objects >= size && kept->logged == query_memory_last_log(memory);
    if (!current && query_memory_keeping(memory)) {
      if (replay_titles(pool, link, memory, kept, &current) != APR_SUCCESS ||
          (current && add_titles(pool, link, size, last, kept) != APR_SUCCESS)) {
        return APR_EGENERAL;
      }
    }
    *titles = &kept->rows;
    if (current) return APR_SUCCESS;
  }
  std::vector<bool> met(size);
  const int status = db_visit_rows(link, kTitleRows, [&](Oid value, Oid object) {
    if (object < 0 || static_cast<size_t>(object) >= size || met[static_cast<size_t>(object)]) return false;
    met[static_cast<size_t>(object)] = true;
    walked->push_back(title_row(value, object));
    return true;
  });
  if (status != APR_SUCCESS) return status;
  const std::vector<TitleRow> *stored =
      memory != nullptr ? query_memory_keep_titles(memory, size, std::move(*walked)) : nullptr;
  *titles = stored != nullptr ? stored : walked;
  return APR_SUCCESS;
}

// The hits' title rows (in value order) and the values they hold, a bit
// each; false when a hit's title names no value.
bool hit_titles(const std::vector<TitleRow> &titles, const std::vector<bool> &hits, std::vector<TitleRow> *out,
                std::vector<bool> *values) {
  for (const TitleRow &title : titles) {
    if (!has(hits, title.object)) continue;
    if (title.value >= values->size()) return false;
    out->push_back(title);
    (*values)[title.value] = true;
  }
  return true;
}

// Walks the values in title order, adding the hits of each title value to
// the page, until the page is full at the end of a run of equal titles.
int walk(apr_pool_t *pool, DbLink link, const std::vector<TitleRow> &titles, const std::vector<bool> &values,
         Page *page) {
  bool keys = false;
  if (msdb_schema_has_table(link, MSDB_TITLE_KEYS, &keys) != APR_SUCCESS) return APR_EGENERAL;
  const char *sql = apr_psprintf(pool, kValuesInTitleOrder, keys ? MSDB_TITLE_KEYS : "propValue");
  Key key;
  return db_with_marks(link, values, [&] {
    return db_stream(link, sql, [&](sqlite3_stmt *row) {
      const Oid value = sqlite3_column_int64(row, 0);
      if (!has(values, value)) return true;
      const unsigned char *text = sqlite3_column_text(row, 1);
      const int bytes = sqlite3_column_bytes(row, 1);
      if (!page->ties.empty() && !key.same(text, bytes)) {
        page->flush();
        if (page->full()) return false;
      }
      key.assign(text, bytes);
      auto first =
          std::lower_bound(titles.begin(), titles.end(), value, [](const TitleRow &t, Oid v) { return t.value < v; });
      for (; first != titles.end() && Oid{first->value} == value; ++first) page->ties.push_back(first->object);
      return true;
    });
  });
}

}  // namespace

int db_search_title_walk(apr_pool_t *pool, DbLink link, QueryMemory *memory, const char *containers,
                         const std::vector<bool> &selected, unsigned int offset, unsigned int count, std::string *oids,
                         long *matches, bool *walked) {
  const char *title = nullptr, *last = nullptr;
  apr_int64_t last_value = -1;
  if (db_select_value(pool, link, kTitleNameOid, &title, nullptr) != APR_SUCCESS ||
      db_select_value(pool, link, kLastValue, &last, nullptr) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  *walked = title != nullptr && std::strcmp(title, "1") == 0 && last != nullptr && parse_int64(last, &last_value) &&
            last_value >= 0 && last_value < DB_MOST_OID_BITS && selected.size() <= DB_MOST_OID_BITS;
  if (!*walked) return APR_SUCCESS;
  std::vector<bool> walked_below;
  const std::vector<bool> *objects_below = nullptr;
  std::vector<TitleRow> walked_titles;
  const std::vector<TitleRow> *titles = nullptr;
  if (below(pool, link, memory, containers, selected.size(), &walked_below, &objects_below) != APR_SUCCESS ||
      first_titles(pool, link, memory, selected.size(), &walked_titles, &titles) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  std::vector<bool> hits(selected.size()), values(static_cast<size_t>(last_value) + 1);
  for (size_t oid = 0; oid < selected.size(); ++oid) hits[oid] = selected[oid] && (*objects_below)[oid];
  std::vector<TitleRow> hit_rows;
  *walked = hit_titles(*titles, hits, &hit_rows, &values);
  if (!*walked) return APR_SUCCESS;
  *matches = static_cast<long>(hit_rows.size());
  Page page{offset, count, oids, 0, {}};
  if (walk(pool, link, hit_rows, values, &page) != APR_SUCCESS) return APR_EGENERAL;
  page.flush();
  return APR_SUCCESS;
}
