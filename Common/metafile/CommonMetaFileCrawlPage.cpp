// What the site crawl reads out of one web page and one URL: the links, the
// page title in UTF-8, the names given to pages and sites, and the country
// or kind of a site from its top-level domain. Pure functions over text the
// caller holds; results in the caller's pool.
#include <apr_strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>

#include "CommonDownload.h"
#include "CommonEscape.h"
#include "CommonMetaFile.h"
#include "CommonMetaFileCrawl.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "CommonUtf8.h"

namespace {

// Top-level domains with the region name and language a site under them
// gets, sorted by code for the binary search. Generic domains name no
// language. Add a row in code order to know one more domain.
constexpr CrawlDomain kDomains[] = {
    {"at", "Austria", "de"},         {"au", "Australia", "en"},      {"be", "Belgium", "nl"},
    {"br", "Brazil", "pt"},          {"ca", "Canada", "en"},         {"ch", "Switzerland", "de"},
    {"com", "Commercial", nullptr},  {"cz", "Czech Republic", "cs"}, {"de", "Germany", "de"},
    {"dk", "Denmark", "da"},         {"edu", "Education", nullptr},  {"es", "Spain", "es"},
    {"fi", "Finland", "fi"},         {"fr", "France", "fr"},         {"gov", "Government", nullptr},
    {"ie", "Ireland", "en"},         {"in", "India", "en"},          {"it", "Italy", "it"},
    {"jp", "Japan", "ja"},           {"mx", "Mexico", "es"},         {"net", "Network", nullptr},
    {"nl", "Netherlands", "nl"},     {"no", "Norway", "no"},         {"nz", "New Zealand", "en"},
    {"org", "Organization", nullptr}, {"pl", "Poland", "pl"},        {"pt", "Portugal", "pt"},
    {"ru", "Russia", "ru"},          {"se", "Sweden", "sv"},         {"uk", "United Kingdom", "en"},
    {"us", "United States", "en"},
};

constexpr bool sorted_by_code() {
  for (std::size_t i = 1; i < std::size(kDomains); ++i) {
    if (std::string_view(kDomains[i - 1].code) >= std::string_view(kDomains[i].code)) return false;
  }
  return true;
}
static_assert(sorted_by_code(), "the domain table is searched by halves");

// Page names that say nothing about the page: the site name is used instead.
constexpr const char *kPlainPageNames[] = {"index", "homepage", "main", "intro", "home", "content", "test"};

// Sites of browser plug-ins: pages link to their download pages everywhere,
// and nothing there is the site's media. A host matches a row when it is the
// row's domain or one below it.
constexpr const char *kPluginSites[] = {"adobe.com", "java.com"};

// Letters and digits, and the punctuation a URL may hold (quotes end it).
bool is_url_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || std::strchr("-._~:/?#[]@!$&()*+,;=%", c) != nullptr;
}

std::string_view host_of(const char *url) {
  const char *after = url_after_scheme(url);
  if (after == nullptr) return {};
  std::size_t end = std::strcspn(after, "/?#");
  std::string_view host(after, end);
  std::size_t at = host.rfind('@');
  if (at != std::string_view::npos) host.remove_prefix(at + 1);
  std::size_t colon = host.find(':');
  return host.substr(0, colon);
}

}  // namespace

char *metafile_resolve_link(apr_pool_t *pool, const char *page_url, const char *link) {
  const char *header = apr_pstrcat(pool, "Location: ", link, "\r\n", nullptr);
  char *url = http_location(pool, page_url, header, std::strlen(header));
  if (url == nullptr) return nullptr;
  if (std::strstr(url, "/./") != nullptr || std::strstr(url, "/../") != nullptr) url = path_canonical(pool, url);
  return url;
}

const CrawlDomain *crawl_domain_of(const char *url) {
  std::string_view host = host_of(url);
  std::size_t dot = host.rfind('.');
  if (dot == std::string_view::npos) return nullptr;
  std::string code(host.substr(dot + 1));
  std::transform(code.begin(), code.end(), code.begin(), [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  auto found = std::lower_bound(std::begin(kDomains), std::end(kDomains), code,
                                [](const CrawlDomain &row, const std::string &key) { return key > row.code; });
  return found != std::end(kDomains) && code == found->code ? found : nullptr;
}

char *crawl_site_name(apr_pool_t *pool, const char *url) {
  std::string_view host = host_of(url);
  if (host.size() > 4 && strncasecmp(host.data(), "www.", 4) == 0) host.remove_prefix(4);
  host = host.substr(0, host.find('.'));
  return apr_pstrndup(pool, host.data(), host.size());
}

char *crawl_page_name(apr_pool_t *pool, const char *url) {
  const char *after = url_after_scheme(url);
  const char *path = after != nullptr ? std::strchr(after, '/') : nullptr;
  if (path != nullptr) {
    const char *last = path_last_component(path);
    std::size_t length = std::strcspn(last, "?#");
    bool plain = length == 0 || *last == '/';
    for (const char *name : kPlainPageNames) {
      if (strncasecmp(last, name, std::strlen(name)) == 0) plain = true;
    }
    if (!plain) return url_decode(pool, apr_pstrndup(pool, last, length));
  }
  return crawl_site_name(pool, url);
}

char *crawl_page_title(apr_pool_t *pool, const char *page, std::size_t length) {
  const char *open = str_find_n(page, "<title>", length);
  if (open == nullptr) return nullptr;
  const char *start = open + 7;
  std::size_t rest = length - static_cast<std::size_t>(start - page);
  const char *close = static_cast<const char *>(std::memchr(start, '<', rest));
  if (close == nullptr || strncasecmp(close, "</title", 7) != 0) return nullptr;
  char *title = str_trim(apr_pstrndup(pool, start, static_cast<apr_size_t>(close - start)));
  const char *charset = crawl_page_charset(pool, page, length);
  const char *converted = text_to_utf8(pool, charset, title, std::strlen(title));
  char *decoded = html_unescape(pool, converted);
  return decoded != nullptr ? decoded : apr_pstrdup(pool, converted);
}

const char *crawl_page_charset(apr_pool_t *pool, const char *page, std::size_t length) {
  // The server's own misspelling is met in the wild and read the same way.
  for (const char *name : {"Content-Type", "Contetnt-Type"}) {
    const char *declaration = str_find_n(page, name, length);
    if (declaration == nullptr) continue;
    std::size_t rest = length - static_cast<std::size_t>(declaration - page);
    const char *tag_end = static_cast<const char *>(std::memchr(declaration, '>', rest));
    std::size_t tag_length = tag_end != nullptr ? static_cast<std::size_t>(tag_end - declaration) : rest;
    const char *content = str_find_n(declaration, "content=", tag_length);
    if (content == nullptr) continue;
    std::size_t content_length = tag_length - static_cast<std::size_t>(content - declaration);
    const char *charset = str_find_n(content, "charset=", content_length);
    if (charset == nullptr) continue;
    charset += 8;
    std::size_t name_length = 0;
    while (charset + name_length < declaration + tag_length &&
           std::strchr("\"'; />", charset[name_length]) == nullptr) {
      ++name_length;
    }
    if (name_length > 0) return apr_pstrndup(pool, charset, name_length);
  }
  return "iso-8859-1";
}

int crawl_page_links(apr_pool_t *pool, const char *page_url, const char *page, std::size_t length,
                     CrawlLinkFn visit, void *context) {
  std::size_t at = 0;
  while (at < length) {
    char c = page[at];
    bool mark = c == '.' || (c == '/' && !(at + 1 < length && page[at + 1] == '>') && !(at > 0 && page[at - 1] == '<'));
    if (!mark) {
      ++at;
      continue;
    }
    std::size_t start = at;
    while (start > 0 && is_url_char(page[start - 1])) --start;
    std::size_t end = at + 1;
    while (end < length && is_url_char(page[end])) ++end;
    at = end;
    std::string_view token(page + start, end - start);
    bool absolute = token.find("://") != std::string_view::npos;
    if (!absolute) {
      bool quoted = start > 0 && end < length && (page[start - 1] == '"' || page[start - 1] == '\'') &&
                    page[end] == page[start - 1];
      if (!quoted || token.size() < 2) continue;
    }
    const char *text = xml_unescape(pool, apr_pstrndup(pool, token.data(), token.size()));
    const char *link = absolute ? text : metafile_resolve_link(pool, page_url, text);
    if (link == nullptr) continue;
    int status = visit(link, context);
    if (status != 0) return status;
  }
  return 0;
}

int crawl_is_plugin_site(const char *url) {
  std::string_view host = host_of(url);
  for (const char *site : kPluginSites) {
    std::string_view name(site);
    if (host.size() < name.size()) continue;
    std::string_view tail = host.substr(host.size() - name.size());
    bool whole = host.size() == name.size() || host[host.size() - name.size() - 1] == '.';
    if (whole && strncasecmp(tail.data(), site, name.size()) == 0) return 1;
  }
  return 0;
}
