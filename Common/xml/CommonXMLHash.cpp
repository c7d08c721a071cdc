// A small document flattened into a hash of path-like keys.
#include <apr_strings.h>

#include "CommonXML.h"
#include "CommonXMLInternal.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr apr_size_t kErrorTextSize = 1024;

void log_parser_error(const char *format, apr_xml_parser *parser) {
  char reason[kErrorTextSize];
  apr_xml_parser_geterror(parser, reason, sizeof reason);
  LOG4C(kXmlModule, LOG4C_ERROR, log4c_sprintf(format, reason));
}

// Repeated siblings are told apart by "[n]"; the number seen so far for a
// plain path is kept under "<path>/last()".
const char *sibling_path(apr_pool_t *pool, apr_hash_t *hash, const char *path) {
  const char *last_key = apr_pstrcat(pool, path, "/last()", nullptr);
  const char *seen = static_cast<const char *>(apr_hash_get(hash, last_key, APR_HASH_KEY_STRING));
  int count = seen != nullptr ? static_cast<int>(apr_atoi64(seen)) : 0;
  apr_hash_set(hash, last_key, APR_HASH_KEY_STRING, apr_itoa(pool, count + 1));
  return count > 0 ? apr_psprintf(pool, "%s[%d]", path, count) : path;
}

void flatten(apr_pool_t *pool, apr_hash_t *hash, const char *prefix, const apr_xml_elem *elem) {
  const char *plain = prefix != nullptr ? apr_pstrcat(pool, prefix, "/", elem->name, nullptr)
                                        : apr_pstrdup(pool, elem->name);
  const char *path = sibling_path(pool, hash, plain);
  for (const apr_xml_attr *attr = elem->attr; attr != nullptr; attr = attr->next) {
    apr_hash_set(hash, apr_psprintf(pool, "%s@%s", path, attr->name), APR_HASH_KEY_STRING,
                 apr_pstrdup(pool, attr->value));
  }
  if (const char *text = xml_elem_text(pool, elem)) apr_hash_set(hash, path, APR_HASH_KEY_STRING, text);
  for (const apr_xml_elem *child = elem->first_child; child != nullptr; child = child->next) {
    flatten(pool, hash, path, child);
  }
}

}  // namespace

int xml_parse_buffer_to_hash(apr_pool_t *pool, const char *buffer, apr_size_t length, apr_hash_t **hash) {
  *hash = nullptr;
  Pool parser_pool(pool, kXmlModule);
  apr_xml_parser *parser = apr_xml_parser_create(parser_pool);
  if (apr_xml_parser_feed(parser, buffer, length) != APR_SUCCESS) {
    log_parser_error("Failed to feed data to XML parser, reason: %s", parser);
    return APR_EGENERAL;
  }
  apr_xml_doc *doc = nullptr;
  if (apr_xml_parser_done(parser, &doc) != APR_SUCCESS) {
    log_parser_error("Failed to complete XML parsing, reason: %s", parser);
    return APR_EGENERAL;
  }
  if (doc == nullptr || doc->root == nullptr) {
    LOG4C(kXmlModule, LOG4C_ERROR, "XML parsing resulted in an empty document");
    return APR_EGENERAL;
  }
  apr_pool_t *result_pool = pool_create_or_die(pool, kXmlModule);
  apr_hash_t *flat = apr_hash_make(result_pool);
  flatten(result_pool, flat, nullptr, doc->root);
  *hash = flat;
  return APR_SUCCESS;
}
