// Whole-file reading into an APR-util element tree, and accessors on it.
#include <apr_file_io.h>
#include <apr_strings.h>
#include <strings.h>

#include "CommonXML.h"
#include "CommonXMLInternal.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr apr_size_t kReadBufferSize = 1024;
constexpr apr_size_t kErrorTextSize = 1024;

}  // namespace

void xml_log_file_error(const char *format, const char *path, apr_status_t status) {
  char reason[kErrorTextSize];
  apr_strerror(status, reason, sizeof reason);
  LOG4C(kXmlModule, LOG4C_ERROR, log4c_sprintf(format, path, reason));
}

int xml_read_file_tree(apr_pool_t *pool, const char *path, apr_xml_doc **doc) {
  Pool scratch(pool, kXmlModule);
  apr_file_t *file = nullptr;
  apr_status_t status = apr_file_open(&file, path, APR_FOPEN_READ | APR_FOPEN_BUFFERED, APR_OS_DEFAULT, scratch);
  if (status != APR_SUCCESS) {
    xml_log_file_error("Unable to open Meta Data file (%s), reason: %s", path, status);
    return APR_EGENERAL;
  }
  apr_xml_parser *parser = nullptr;
  apr_xml_doc *parsed = nullptr;
  int result = APR_SUCCESS;
  if (apr_xml_parse_file(pool, &parser, &parsed, file, kReadBufferSize) != APR_SUCCESS) {
    char reason[kErrorTextSize] = "";
    if (parser != nullptr) apr_xml_parser_geterror(parser, reason, sizeof reason);
    LOG4C(kXmlModule, LOG4C_ERROR, reason);
    result = APR_EGENERAL;
  }
  status = apr_file_close(file);
  if (status != APR_SUCCESS) {
    xml_log_file_error("Unable to close file (%s), reason: %s", path, status);
    result = APR_EGENERAL;
  }
  if (result == APR_SUCCESS) *doc = parsed;
  return result;
}

const char *xml_attr_get(const apr_xml_elem *elem, const char *name) {
  if (elem == nullptr) return nullptr;
  for (const apr_xml_attr *attr = elem->attr; attr != nullptr; attr = attr->next) {
    if (strcasecmp(attr->name, name) == 0) return attr->value;
  }
  return nullptr;
}

int xml_attr_set(apr_pool_t *pool, apr_xml_elem *elem, const char *name, const char *value) {
  if (elem == nullptr) return APR_EGENERAL;
  apr_xml_attr **link = &elem->attr;
  for (; *link != nullptr; link = &(*link)->next) {
    if (strcasecmp((*link)->name, name) != 0) continue;
    if (value == nullptr) {
      *link = (*link)->next;
    } else {
      (*link)->value = apr_pstrdup(pool, value);
    }
    return APR_SUCCESS;
  }
  if (value == nullptr) return APR_SUCCESS;
  auto *attr = static_cast<apr_xml_attr *>(apr_pcalloc(pool, sizeof(apr_xml_attr)));
  attr->name = apr_pstrdup(pool, name);
  attr->ns = elem->ns;
  attr->value = apr_pstrdup(pool, value);
  *link = attr;
  return APR_SUCCESS;
}

const char *xml_elem_text(apr_pool_t *pool, const apr_xml_elem *elem) {
  if (elem == nullptr || elem->first_cdata.first == nullptr) return nullptr;
  Pool scratch(pool, kXmlModule);
  const char *text = "";
  for (const apr_text *piece = elem->first_cdata.first; piece != nullptr; piece = piece->next) {
    text = apr_pstrcat(scratch, text, piece->text, nullptr);
  }
  return apr_pstrdup(pool, text);
}

int xml_elem_set_text(apr_pool_t *pool, apr_xml_elem *elem, const char *text) {
  if (elem == nullptr) return APR_EGENERAL;
  elem->first_cdata.first = elem->first_cdata.last = nullptr;
  elem->following_cdata.first = elem->following_cdata.last = nullptr;
  if (text != nullptr) apr_text_append(pool, &elem->first_cdata, apr_pstrdup(pool, text));
  return APR_SUCCESS;
}
