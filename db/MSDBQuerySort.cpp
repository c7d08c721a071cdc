// Browse in the order a client's sort criteria ask for: a statement of its
// own that ranks a container's children by property values; the plain
// browse statements stay as they are.
#include <apr_strings.h>
#include <strings.h>

#include <cstring>

#include "CommonUserMessage.h"
#include "MSDBQuery.h"
#include "MSDBQueryRows.h"
#include "log4c.h"

namespace {

// The properties children can be ordered by, and how their values compare:
// text as the library orders titles (lower-cased), numbers by value.
struct SortProperty {
  const char *name;
  bool numeric;
};

constexpr SortProperty kSortProperties[] = {
    {"dc:title", false},   {"dc:date", false},   {"upnp:album", false}, {"upnp:originalTrackNumber", true},
    {"dc:creator", false}, {"upnp:artist", false}, {"upnp:genre", false},
};

constexpr const char *kValueOf =
    "(select %s from prop inner join propName on prop.nameOid=propName.oid inner join propValue on "
    "prop.valueOid=propValue.oid where prop.objectOid=%s and propName.name='%s' "
    "order by prop.oid limit 1) %s, ";
constexpr const char *kRankedChildren =
    "select edge.parentObjectOid as edgeParentOid, edge.objectOid as edgeObjectOid, row_number() over "
    "(order by %sedge.ordinal, edge.objectOid) as ordinal from edge where edge.parentObjectOid in (%s)";

constexpr const char *kChild = "edge.objectOid";

const SortProperty *sort_property(const char *name, std::size_t length) {
  for (const SortProperty &row : kSortProperties) {
    if (std::strlen(row.name) == length && strncasecmp(row.name, name, length) == 0) return &row;
  }
  return nullptr;
}

}  // namespace

const char *db_sort_keys(apr_pool_t *pool, const char *criteria, const char *object) {
  const char *keys = "";
  for (const char *at = criteria; *at != '\0';) {
    const char *comma = std::strchr(at, ',');
    const std::size_t length = comma != nullptr ? static_cast<std::size_t>(comma - at) : std::strlen(at);
    if (length < 2 || (at[0] != '+' && at[0] != '-')) return nullptr;
    const SortProperty *row = sort_property(at + 1, length - 1);
    if (row == nullptr) return nullptr;
    const char *value = row->numeric ? "cast(propValue.value as integer)" : "lower(propValue.value)";
    keys = apr_pstrcat(pool, keys,
                       apr_psprintf(pool, kValueOf, value, object, row->name, at[0] == '-' ? "desc" : "asc"), nullptr);
    at += length + (comma != nullptr ? 1 : 0);
  }
  return keys;
}

namespace {

const char *ranked_children(apr_pool_t *pool, const char *oids, void *value) {
  return apr_psprintf(pool, kRankedChildren, static_cast<const char *>(value), oids);
}

}  // namespace

const char *const MSDB_SORT_CAPABILITIES =
    "dc:title,dc:date,upnp:album,upnp:originalTrackNumber,dc:creator,upnp:artist,upnp:genre";

bool msdb_sort_criteria_valid(apr_pool_t *pool, const char *criteria) {
  return criteria != nullptr && db_sort_keys(pool, criteria, kChild) != nullptr;
}

int msdb_fetch_children_sorted(apr_pool_t *pool, MediaLibraryDB *db, const char *const *ids, int id_count,
                               const char *sort_criteria, const char *filter, unsigned int offset,
                               unsigned int count, DbObjectCallback callback, void *value,
                               SerializeFormat format, const DbSerializeOptions *options, int *returned,
                               long *total, const char **document) {
  const char *keys = sort_criteria != nullptr ? db_sort_keys(pool, sort_criteria, kChild) : nullptr;
  if (keys == nullptr) {
    LOG4C("MSDB", LOG4C_ERROR, log4c_sprintf("Unsupported sort criteria %s", sort_criteria));
    return APR_EGENERAL;
  }
  const DbChildrenOrder order = *keys != '\0' ? ranked_children : nullptr;
  return db_query_children(pool, db, ids, id_count, filter, offset, count, order, const_cast<char *>(keys),
                           callback, value, format, options, returned, total, document);
}
