// The line of XML the media server reads, exactly as it is laid out.
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "PlaycheckDocument.h"
#include "PlaycheckFilters.h"

namespace {

TEST(PlaycheckDocument, FiltersAreEmptyElementsWithFourEscapedAttributes) {
  TestPool pool;
  apr_array_header_t *filters = apr_array_make(pool, 2, sizeof(PlaycheckFilter));
  APR_ARRAY_PUSH(filters, PlaycheckFilter) = {"Tom & Jerry <decoder>", "{0-1}", "/usr/lib/a&amp;b.so", 1};
  APR_ARRAY_PUSH(filters, PlaycheckFilter) = {"\"Quoted\" &amp; more", "{0-2}", nullptr, 0};
  EXPECT_STREQ(playcheck_document(pool, filters),
               "<filters>"
               "<filter name=\"Tom &amp; Jerry &lt;decoder&gt;\" clsid=\"{0-1}\" path=\"/usr/lib/a&amp;b.so\" "
               "exist=\"1\"></filter>"
               "<filter name=\"&quot;Quoted&quot; &amp; more\" clsid=\"{0-2}\" path=\"(null)\" exist=\"0\"></filter>"
               "</filters>");
}

TEST(PlaycheckDocument, NoListAndAnEmptyList) {
  TestPool pool;
  EXPECT_STREQ(playcheck_document(pool, nullptr), "(null)");
  EXPECT_STREQ(playcheck_document(pool, apr_array_make(pool, 1, sizeof(PlaycheckFilter))), "<filters></filters>");
}

}  // namespace
