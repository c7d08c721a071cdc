// The site crawl: a web site read like a feed. Each page that links to
// media of the expected kind is an item whose sub-items are those links;
// pages linked from a page are crawled one level less deep. A visited table
// and a page budget keep a site that links to itself from running forever.
#include <apr_strings.h>

#include <string>
#include <strings.h>
#include <unordered_map>
#include <vector>

#include "CommonCancel.h"
#include "CommonMetaFileCrawl.h"
#include "CommonMetaFileInternal.h"
#include "CommonMultimedia.h"
#include "CommonUserMessage.h"
#include "CommonUtf8.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kCrawlUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0;)";
// A page larger than this is read only this far.
constexpr std::size_t kMaxPage = 4 * 1024 * 1024;
// Pages fetched by one crawl, at most.
constexpr int kMaxPages = 500;
// Metafiles a crawl reports beside media of the expected kind.
constexpr const char *kCrawledMetafiles[] = {"asx", "m3u", "pls"};

struct Crawl {
  MetaFileParser *parser = nullptr;
  int expected_class = 0;
  // URL -> the deepest depth it was seen at, plus one.
  std::unordered_map<std::string, int> visited;
  int pages = 0;
};

struct PageVisit {
  Crawl *crawl = nullptr;
  apr_pool_t *pool = nullptr;
  const char *page_url = nullptr;
  int depth = 0;
  std::vector<std::string> pages;  // to crawl after this one
  int status = 0;
};

bool seen_at_or_deeper(Crawl *crawl, const std::string &url, int depth) {
  auto found = crawl->visited.find(url);
  return found != crawl->visited.end() && found->second >= depth + 1;
}

void mark_visited(Crawl *crawl, const std::string &url, int depth) {
  int &deepest = crawl->visited[url];
  if (deepest < depth + 1) deepest = depth + 1;
}

bool extension_in(const char *extension, const char *const *list, std::size_t count) {
  for (std::size_t i = 0; extension != nullptr && i < count; ++i) {
    if (strcasecmp(extension, list[i]) == 0) return true;
  }
  return false;
}

bool wanted_media(const MediaTypeEntry *type, int expected_class) {
  int media_class = type->media_class;
  if (media_class == expected_class) return true;
  if (expected_class == MEDIA_AUDIO_OR_VIDEO && media_class >= MEDIA_VIDEO && media_class <= MEDIA_AUDIO_OR_VIDEO) {
    return true;
  }
  if (media_class == MEDIA_AUDIO_OR_VIDEO && (expected_class == MEDIA_VIDEO || expected_class == MEDIA_AUDIO)) {
    return true;
  }
  return media_class == MEDIA_METAFILE &&
         extension_in(type->extension, kCrawledMetafiles, sizeof kCrawledMetafiles / sizeof *kCrawledMetafiles);
}

bool is_page(const MediaTypeEntry *type) {
  return type->extension != nullptr &&
         (strncasecmp(type->extension, "htm", 3) == 0 || strcasecmp(type->extension, "js") == 0);
}

void store(MetaFileParser *parser, int level, int slot, const char *value) {
  apr_pool_t *pool = parser->levels.pool[level];
  meta_store(pool, parser->levels.list[level], slot, META_VALUE_SET, nullptr, apr_pstrdup(pool, value));
}

// The link becomes a sub-item of the page's item, opened by the first one.
void report_link(PageVisit *visit, const char *link, const char *mime) {
  MetaFileParser *parser = visit->crawl->parser;
  if (parser->levels.list[2] == nullptr) {
    if (meta_level_open(parser, 2) != APR_SUCCESS) return;
    store(parser, 2, PROP_RES, visit->page_url);
    store(parser, 2, PROP_DC_TITLE, utf8_valid_copy(visit->pool, crawl_page_name(visit->pool, visit->page_url)));
  }
  if (meta_level_open(parser, 3) != APR_SUCCESS) return;
  store(parser, 3, PROP_RES, link);
  store(parser, 3, PROP_RES_MIME_TYPE, mime);
  store(parser, 3, PROP_DC_TITLE, utf8_valid_copy(visit->pool, crawl_page_name(visit->pool, link)));
  meta_level_close(parser, 3);
}

int visit_link(const char *link, void *context) {
  auto *visit = static_cast<PageVisit *>(context);
  Crawl *crawl = visit->crawl;
  MetaFileParser *parser = crawl->parser;
  if (crawl_is_plugin_site(link) || seen_at_or_deeper(crawl, link, visit->depth)) return 0;
  mark_visited(crawl, link, visit->depth);
  const char *mime = url_mime_type(visit->pool, link, crawl->expected_class, nullptr, parser->cancel,
                                   parser->cancel_context);
  if (cancel_requested(parser->cancel, parser->cancel_context)) return COMMON_CANCELLED;
  if (mime == nullptr) return 0;
  const MediaTypeEntry *type = media_type_by_mime(mime, -1);
  if (wanted_media(type, crawl->expected_class)) {
    report_link(visit, link, mime);
  } else if (visit->depth >= 1 && is_page(type)) {
    visit->pages.emplace_back(link);
  }
  return parser->stop ? parser->result : 0;
}

void take_title(Crawl *crawl, const MetaFetch &fetch, apr_pool_t *pool) {
  MetaFileParser *parser = crawl->parser;
  if (prop_get(pool, parser->levels.list[1], PROP_DC_TITLE, 0) != nullptr) return;
  if (char *title = crawl_page_title(pool, fetch.memory.data(), fetch.memory.size())) {
    if (*title != '\0') store(parser, 1, PROP_DC_TITLE, title);
  }
}

int crawl_page(Crawl *crawl, const char *url, int depth) {
  MetaFileParser *parser = crawl->parser;
  if (++crawl->pages > kMaxPages) {
    if (crawl->pages == kMaxPages + 1) {
      LOG4C(METAFILE_MODULE, LOG4C_WARN,
            log4c_sprintf("Site crawl stopped after %d pages, %s not read", kMaxPages, url));
    }
    return APR_SUCCESS;
  }
  LOG4C(METAFILE_MODULE, LOG4C_INFO, log4c_sprintf("Getting %s", url));
  Pool pool(parser->pool, METAFILE_MODULE);
  MetaFetch fetch;
  fetch.url = url;
  fetch.user_agent = kCrawlUserAgent;
  fetch.cancel = parser->cancel;
  fetch.cancel_context = parser->cancel_context;
  fetch.limit = kMaxPage;
  int status = meta_fetch(pool, &fetch);
  if (status != APR_SUCCESS) return status;
  if (fetch.final_url != nullptr && std::string(fetch.final_url) != url) mark_visited(crawl, fetch.final_url, depth);
  meta_level_close(parser, 2);
  if (parser->stop) return parser->result;
  take_title(crawl, fetch, pool);
  PageVisit visit;
  visit.crawl = crawl;
  visit.pool = pool;
  visit.page_url = fetch.final_url != nullptr ? fetch.final_url : url;
  visit.depth = depth;
  status = crawl_page_links(pool, visit.page_url, fetch.memory.data(), fetch.memory.size(), visit_link, &visit);
  if (status != APR_SUCCESS) return status;
  for (const std::string &page : visit.pages) {
    status = crawl_page(crawl, page.c_str(), depth - 1);
    if (status == COMMON_CANCELLED || parser->stop) return parser->stop ? parser->result : COMMON_CANCELLED;
    if (status != APR_SUCCESS) LOG4C(METAFILE_MODULE, LOG4C_WARN, log4c_sprintf("Could not crawl %s", page.c_str()));
  }
  return APR_SUCCESS;
}

void describe_site(MetaFileParser *parser, const char *site_url, const char *start_url) {
  store(parser, 1, PROP_DC_RELATION, site_url);
  store(parser, 1, PROP_RES, start_url);
  if (const CrawlDomain *domain = crawl_domain_of(site_url)) {
    store(parser, 1, PROP_UPNP_REGION, domain->name);
    if (domain->language != nullptr) store(parser, 1, PROP_DC_LANGUAGE, domain->language);
  }
}

}  // namespace

int site_crawl(const char *site_url, const char *start_url, int depth, int expected_class, MetaItemCallback callback,
               void *context, CancelCheck cancel, void *cancel_context) {
  if (site_url == nullptr || start_url == nullptr || callback == nullptr) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  MetaFileParser parser(start_url, 0, callback, context, cancel, cancel_context);
  meta_level_open(&parser, 1);
  describe_site(&parser, site_url, start_url);
  Crawl crawl;
  crawl.parser = &parser;
  crawl.expected_class = expected_class;
  mark_visited(&crawl, start_url, depth);
  int status = crawl_page(&crawl, start_url, depth);
  if (status != APR_SUCCESS) return status;
  if (parser.stop) return parser.result;
  if (prop_get(parser.pool, parser.levels.list[1], PROP_DC_TITLE, 0) == nullptr) {
    store(&parser, 1, PROP_DC_TITLE, utf8_valid_copy(parser.pool, crawl_site_name(parser.pool, site_url)));
  }
  meta_levels_close_all(&parser);
  return parser.stop ? parser.result : APR_SUCCESS;
}
