// PlaycheckDocument: the one line of XML the media server reads: a
// "filters" root holding one empty "filter" element per decoder with the
// attributes name, clsid, path and exist, XML-escaped (an entity already
// present is kept), written by the serializer without header or footer.
// The text lives in the caller's pool.
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

// The document of filters (an array of PlaycheckFilter); "(null)" when
// filters is null, the list not having been obtained. A filter without a
// path has the path "(null)".
const char *playcheck_document(apr_pool_t *pool, const apr_array_header_t *filters);
