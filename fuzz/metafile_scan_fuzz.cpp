// Feeds arbitrary bytes to the text metafile scan and to the site crawl's
// reading of a page (links, title, character set).
#include "CommonMetaFileCrawl.h"
#include "MetaFileFuzz.h"

namespace {
int count_link(const char *url, void *context) {
  *static_cast<std::size_t *>(context) += std::string(url).size();
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  apr_pool_t *pool = nullptr;
  apr_pool_create(&pool, fuzz_pool());
  const char *text = reinterpret_cast<const char *>(data);
  metafile_scan_text(pool, text, size);
  std::string page(text, size);  // the page readers expect a NUL after the text
  std::size_t total = 0;
  crawl_page_links(pool, "http://127.0.0.1/dir/page.html", page.c_str(), page.size(), count_link, &total);
  crawl_page_title(pool, page.c_str(), page.size());
  apr_pool_destroy(pool);
  return 0;
}
