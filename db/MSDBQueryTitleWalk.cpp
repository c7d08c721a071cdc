// The page of a subtree search with many hits, without touching each hit
// in SQL. Three index walks stepped straight from SQLite (no copy of their
// rows), each testing the marks the step before left inside SQLite, and
// joined in memory: the objects below the containers (counted there, none
// stepped out), each hit's first title row in value order (its smallest
// value oid), and their values in title order (the title keys, MSDBSchema),
// which is followed until the page is full. The hits' title order, ties and
// count are those of the grouped statement it replaces, in a library whose
// title rows name values that exist (mlcheck's dangling rows aside). Bit sets over
// oids and the hits' titles live on the calling thread's heap for the call
// only.
#include <apr_strings.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CommonNumbers.h"
#include "MSDBQueryRows.h"
#include "MSDBSchema.h"

namespace {

// The walks that find the hits take each marked object once (db_take)
// inside SQLite: the objects below the containers are counted there, not
// stepped out, and only each hit's first title row comes out of the title
// rows in value order (its smallest value oid).
constexpr const char *kBelowRows =
    "select count(*) from ancestor where ancestorObjectOid in (%s) and db_take(objectOid)";
// The title rows through index prop_title, which holds the rows of name oid
// 1: the walk runs only where that is dc:title and the index is there (a
// library whose upgrade failed): without it SQLite would sort the rows after
// db_take had met them in the table's order, and take another title than an
// object's first.
constexpr const char *kTitleNameOid =
    "select oid from propName where name='dc:title' and exists (select 1 from sqlite_master where type='index' and "
    "name='prop_title')";
constexpr const char *kTitleRows =
    "select valueOid, objectOid from prop where nameOid = 1 and db_take(objectOid) order by valueOid, objectOid";
// The title keys hold the texts of title values only; a library without
// them walks every value in that order (index propValue_nocase).
constexpr const char *kValuesInTitleOrder =
    "select oid, value from %s where db_marked(oid) order by value collate nocase";
constexpr const char *kLastValue = "select max(oid) from propValue";

using Oid = sqlite3_int64;

bool has(const std::vector<bool> &bits, Oid oid) {
  return oid >= 0 && static_cast<size_t>(oid) < bits.size() && bits[static_cast<size_t>(oid)];
}

struct Titled {
  Oid value;
  Oid object;
};

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

// The selected objects below the containers, and their number.
int below(apr_pool_t *pool, DbLink link, const char *containers, const std::vector<bool> &selected,
          std::vector<bool> *hits, size_t *count) {
  std::vector<bool> unreached = selected;
  const int status = db_with_takes(link, unreached, [&] {
    return db_stream(link, apr_psprintf(pool, kBelowRows, containers), [&](sqlite3_stmt *row) {
      *count = static_cast<size_t>(sqlite3_column_int64(row, 0));
      return false;
    });
  });
  hits->assign(selected.size(), false);
  for (size_t oid = 0; oid < selected.size(); ++oid) (*hits)[oid] = selected[oid] && !unreached[oid];
  return status;
}

// Each hit's first title, in value order, and the values those titles hold
// (a bit each, up to the last value); *outside when a title names no value.
// The hits' marks are taken on the way.
int first_titles(DbLink link, std::vector<bool> *hits, std::vector<Titled> *titles, std::vector<bool> *values,
                 bool *outside) {
  return db_with_takes(link, *hits, [&] {
    return db_stream(link, kTitleRows, [&](sqlite3_stmt *row) {
      const Oid value = sqlite3_column_int64(row, 0);
      *outside = value < 0 || static_cast<size_t>(value) >= values->size();
      if (*outside) return false;
      titles->push_back({value, sqlite3_column_int64(row, 1)});
      (*values)[static_cast<size_t>(value)] = true;
      return true;
    });
  });
}

// Walks the values in title order, adding the hits of each title value to
// the page, until the page is full at the end of a run of equal titles.
int walk(apr_pool_t *pool, DbLink link, const std::vector<Titled> &titles, const std::vector<bool> &values,
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
          std::lower_bound(titles.begin(), titles.end(), value, [](const Titled &t, Oid v) { return t.value < v; });
      for (; first != titles.end() && first->value == value; ++first) page->ties.push_back(first->object);
      return true;
    });
  });
}

}  // namespace

int db_search_title_walk(apr_pool_t *pool, DbLink link, const char *containers, const std::vector<bool> &selected,
                         unsigned int offset, unsigned int count, std::string *oids, long *matches, bool *walked) {
  const char *title = nullptr, *last = nullptr;
  apr_int64_t last_value = -1;
  if (db_select_value(pool, link, kTitleNameOid, &title, nullptr) != APR_SUCCESS ||
      db_select_value(pool, link, kLastValue, &last, nullptr) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  *walked = title != nullptr && std::strcmp(title, "1") == 0 && last != nullptr && parse_int64(last, &last_value) &&
            last_value >= 0 && last_value < DB_MOST_OID_BITS;
  if (!*walked) return APR_SUCCESS;
  std::vector<bool> hits, values(static_cast<size_t>(last_value) + 1);
  std::vector<Titled> titles;
  size_t below_count = 0;
  bool outside = false;
  if (below(pool, link, containers, selected, &hits, &below_count) != APR_SUCCESS) return APR_EGENERAL;
  titles.reserve(below_count);
  if (first_titles(link, &hits, &titles, &values, &outside) != APR_SUCCESS) return APR_EGENERAL;
  *walked = !outside;
  if (!*walked) return APR_SUCCESS;
  *matches = static_cast<long>(titles.size());
  Page page{offset, count, oids, 0, {}};
  if (walk(pool, link, titles, values, &page) != APR_SUCCESS) return APR_EGENERAL;
  page.flush();
  return APR_SUCCESS;
}
