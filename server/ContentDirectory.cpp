// ContentDirectory:1 actions over the library's browse, metadata and search
// queries. Each request uses its thread's library connection; documents and
// lists live in the request's pool. The order of results is the library's
// own (children in their container's order, search hits by title) unless
// sort criteria ask for another; LG sets get their children by title.
#include <apr_strings.h>

#include <cstring>

#include "ClientProfiles.h"
#include "CommonNumbers.h"
#include "CommonPropNames.h"
#include "Control.h"
#include "DidlUrls.h"
#include "MSDBHelper.h"
#include "MSDBIdPath.h"
#include "MSDBQuery.h"

namespace {

constexpr const char *kSearchCapabilities =
    "@parentID,dc:title,dc:creator,dc:date,upnp:class,upnp:artist,upnp:album,upnp:genre";
constexpr const char *kFeatureList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Features xmlns=\"urn:schemas-upnp-org:av:avs\">"
    "<Feature name=\"samsung.com_BASICVIEW\" version=\"1\">"
    "<container id=\"0/1\" type=\"object.item.audioItem\"/>"
    "<container id=\"0/3\" type=\"object.item.videoItem\"/>"
    "<container id=\"0/2\" type=\"object.item.imageItem\"/></Feature></Features>";
constexpr const char *kTitleOrder = "+dc:title";
constexpr const char *kAllObjects = "upnp:class derivedfrom \"object\"";
constexpr const char *kContainerClass = "object.container";
// A filter that skips the per-object callback would let local paths out.
constexpr const char *kMinimalFilter = "x_minimal:";

// The fixed container ids Xbox consoles ask for, and the library's views
// that hold what they expect there.
struct XboxContainer {
  const char *xbox_id, *library_id;
};
constexpr XboxContainer kXboxContainers[] = {
    {"1", "0/1"}, {"4", "0/1"}, {"5", "0/1"}, {"6", "0/1"}, {"7", "0/1"}, {"F", "0/1"},
    {"2", "0/3"}, {"8", "0/3"}, {"3", "0/2"}, {"B", "0/2"},
};

// The library id a client means by id.
const char *library_id(const ActionCall &call, const std::string &id) {
  if ((client_profile(call.request).quirks & CLIENT_XBOX_IDS) != 0) {
    for (const XboxContainer &row : kXboxContainers) {
      if (id == row.xbox_id) return row.library_id;
    }
  }
  return id.c_str();
}

bool parse_ui4(const std::string *text, unsigned *value) {
  return text != nullptr && parse_uint(text->c_str(), value) != 0;
}

struct Paging {
  const char *filter;
  const char *sort;
  unsigned start, count;
};

int read_common(const ActionCall &call, Paging *paging) {
  const std::string *filter = call.argument("Filter");
  const std::string *sort = call.argument("SortCriteria");
  if (filter == nullptr || sort == nullptr || !parse_ui4(call.argument("StartingIndex"), &paging->start) ||
      !parse_ui4(call.argument("RequestedCount"), &paging->count) ||
      filter->compare(0, std::strlen(kMinimalFilter), kMinimalFilter) == 0) {
    return UPNP_INVALID_ARGS;
  }
  if (!msdb_sort_criteria_valid(call.request.pool, sort->c_str())) return UPNP_BAD_SORT_CRITERIA;
  paging->filter = filter->c_str();
  paging->sort = sort->empty() && (client_profile(call.request).quirks & CLIENT_SORT_BY_TITLE) != 0
                     ? kTitleOrder
                     : sort->c_str();
  return UPNP_OK;
}

// The object's class, after checking the id and the access rules; *klass
// stays null for an object the library does not hold.
int object_class(const ActionCall &call, const char *id, const char **klass) {
  *klass = nullptr;
  if (!msdb_id_path_valid(id) ||
      !access_allowed(call.server.rules, call.request.client, call.request.path, id)) {
    return UPNP_OK;
  }
  PropList *list = nullptr;
  if (msdb_fetch_prop_list(call.request.pool, call.server.db, id, &list) != APR_SUCCESS) return UPNP_CANNOT_PROCESS;
  *klass = prop_get(call.request.pool, list, PROP_UPNP_CLASS, 0);
  return UPNP_OK;
}

bool is_container(const char *klass) {
  return klass != nullptr && strncasecmp(klass, kContainerClass, std::strlen(kContainerClass)) == 0;
}

void answer(ActionCall &call, const char *document, long returned, long total) {
  call.outputs = {{"Result", didl_declare_namespaces(call.request.pool, document)},
                  {"NumberReturned", std::to_string(returned)},
                  {"TotalMatches", std::to_string(total)},
                  {"UpdateID", std::to_string(call.server.system_update_id.load())}};
}

int browse(ActionCall &call) {
  Paging paging{};
  const std::string *id = call.argument("ObjectID");
  const std::string *flag = call.argument("BrowseFlag");
  if (id == nullptr || flag == nullptr) return UPNP_INVALID_ARGS;
  const bool metadata = *flag == "BrowseMetadata";
  if (!metadata && *flag != "BrowseDirectChildren") return UPNP_INVALID_ARGS;
  if (int error = read_common(call, &paging)) return error;
  const char *object = library_id(call, *id);
  const char *klass = nullptr;
  if (int error = object_class(call, object, &klass)) return error;
  if (klass == nullptr) return UPNP_NO_SUCH_OBJECT;
  DidlRequest didl{&call.server, call.request.base_url, call.request.client, &client_profile(call.request)};
  const char *document = nullptr;
  apr_pool_t *pool = call.request.pool;
  if (metadata) {
    if (msdb_fetch_metadata(pool, call.server.db, object, paging.filter, didl_rewrite, &didl,
                            FORMAT_DIDL_LITE, nullptr, &document) != APR_SUCCESS) {
      return UPNP_NO_SUCH_OBJECT;
    }
    answer(call, document, 1, 1);
    return UPNP_OK;
  }
  if (!is_container(klass)) return UPNP_NO_SUCH_CONTAINER;
  const char *ids[] = {object};
  int returned = 0;
  long total = 0;
  if (msdb_fetch_children_sorted(pool, call.server.db, ids, 1, paging.sort, paging.filter, paging.start,
                                 paging.count, didl_rewrite, &didl, FORMAT_DIDL_LITE, nullptr, &returned, &total,
                                 &document) != APR_SUCCESS) {
    return UPNP_NO_SUCH_OBJECT;
  }
  answer(call, document, returned, total);
  return UPNP_OK;
}

int search(ActionCall &call) {
  Paging paging{};
  const std::string *id = call.argument("ContainerID");
  const std::string *criteria = call.argument("SearchCriteria");
  if (id == nullptr || criteria == nullptr) return UPNP_INVALID_ARGS;
  if (int error = read_common(call, &paging)) return error;
  const char *object = library_id(call, *id);
  const char *klass = nullptr;
  if (int error = object_class(call, object, &klass)) return error;
  if (!is_container(klass)) return UPNP_NO_SUCH_CONTAINER;
  apr_pool_t *pool = call.request.pool;
  const char *text = *criteria == "*" || criteria->empty() ? kAllObjects : criteria->c_str();
  if (msdb_search_criteria_to_sql(pool, text, db_escape) == nullptr) return UPNP_BAD_SEARCH_CRITERIA;
  DidlRequest didl{&call.server, call.request.base_url, call.request.client, &client_profile(call.request)};
  const char *ids[] = {object};
  const char *document = nullptr;
  int returned = 0;
  long total = 0;
  if (msdb_search_sorted(pool, call.server.db, ids, 1, text, paging.sort, paging.filter, paging.start, paging.count,
                         didl_rewrite, &didl, FORMAT_DIDL_LITE, nullptr, &returned, &total,
                         &document) != APR_SUCCESS) {
    return UPNP_CANNOT_PROCESS;
  }
  answer(call, document, returned, total);
  return UPNP_OK;
}

int search_capabilities(ActionCall &call) {
  call.outputs = {{"SearchCaps", kSearchCapabilities}};
  return UPNP_OK;
}

int sort_capabilities(ActionCall &call) {
  call.outputs = {{"SortCaps", MSDB_SORT_CAPABILITIES}};
  return UPNP_OK;
}

// Samsung sets open these containers for their music, video and photo views.
int feature_list(ActionCall &call) {
  call.outputs = {{"FeatureList", kFeatureList}};
  return UPNP_OK;
}

int system_update_id(ActionCall &call) {
  call.outputs = {{"Id", std::to_string(call.server.system_update_id.load())}};
  return UPNP_OK;
}

}  // namespace

const ActionEntry CDS_ACTIONS[] = {
    {"Browse", browse},
    {"Search", search},
    {"GetSearchCapabilities", search_capabilities},
    {"GetSortCapabilities", sort_capabilities},
    {"GetSystemUpdateID", system_update_id},
    {"X_GetFeatureList", feature_list},
};
const int CDS_ACTION_COUNT = static_cast<int>(std::size(CDS_ACTIONS));
