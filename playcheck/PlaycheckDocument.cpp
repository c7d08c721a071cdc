#include "PlaycheckDocument.h"

#include "CommonSerialize.h"
#include "PlaycheckFilters.h"

const char *playcheck_document(apr_pool_t *pool, const apr_array_header_t *filters) {
  if (filters == nullptr) return "(null)";
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_RESULTSET);
  for (int i = 0; i < filters->nelts; ++i) {
    const PlaycheckFilter &filter = APR_ARRAY_IDX(filters, i, PlaycheckFilter);
    serialize_new_record(buffer, "filter");
    serialize_add_escaped(buffer, "@name", 0, filter.name);
    serialize_add_escaped(buffer, "@clsid", 0, filter.clsid);
    serialize_add_escaped(buffer, "@path", 0, filter.path != nullptr ? filter.path : "(null)");
    serialize_add(buffer, "@exist", 0, filter.exist != 0 ? "1" : "0");
  }
  const SerializeOptions options{"<filters>", "</filters>", nullptr, nullptr};
  const char *text = nullptr;
  serialize_output(buffer, pool, &options, &text);
  return text;
}
