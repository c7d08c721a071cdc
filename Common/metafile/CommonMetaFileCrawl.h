// The site crawl's reading of pages and URLs, apart from the network: links,
// titles, page and site names and the domain table. Stateless; results live
// in the caller's pool or are constant.
#pragma once

#include <apr_pools.h>

#include <cstddef>

struct CrawlDomain {
  const char *code;      // top-level domain, lower case
  const char *name;      // becomes upnp:region
  const char *language;  // becomes dc:language; null for generic domains
};

// The row of url's top-level domain, or null.
const CrawlDomain *crawl_domain_of(const char *url);
// The host without a leading "www." label, cut at its next "." ("radio" for
// "http://www.radio.example.com/").
char *crawl_site_name(apr_pool_t *pool, const char *url);
// The last path component without its query (URL-decoded), or the site
// name when it is empty or starts with index, homepage, main, intro, home,
// content or test.
char *crawl_page_name(apr_pool_t *pool, const char *url);
// The "charset=" of the page's Content-Type meta declaration, else
// "iso-8859-1".
const char *crawl_page_charset(apr_pool_t *pool, const char *page, std::size_t length);
// The text of the page's <title> element in UTF-8 with HTML entities
// decoded; null when there is none.
char *crawl_page_title(apr_pool_t *pool, const char *page, std::size_t length);

// Called per link found; non-zero stops the walk and is returned.
using CrawlLinkFn = int (*)(const char *url, void *context);
// Walks the links of a page: absolute URLs anywhere, and quoted relative
// ones of two characters or more, resolved against page_url. Returns 0 or
// the first non-zero result of visit.
int crawl_page_links(apr_pool_t *pool, const char *page_url, const char *page, std::size_t length,
                     CrawlLinkFn visit, void *context);
// 1 for a link to a browser plug-in vendor's site, which the crawl skips.
int crawl_is_plugin_site(const char *url);
