// Reading typed attribute values of the configuration file.
#include <apr_strings.h>
#include <strings.h>

#include "CommonNumbers.h"
#include "CommonXML.h"
#include "MSConfigRead.h"
#include "log4c.h"

bool config_attr_bool(const apr_xml_elem *elem, const char *name, int *out) {
  return parse_bool(xml_attr_get(elem, name), out) == 1;
}

bool config_attr_uint(const apr_xml_elem *elem, const char *name, unsigned int *out) {
  return parse_uint(xml_attr_get(elem, name), out) == 1;
}

bool config_attr_text(apr_pool_t *pool, const apr_xml_elem *elem, const char *name, const char **out) {
  const char *value = xml_attr_get(elem, name);
  if (value == nullptr) return false;
  *out = apr_pstrdup(pool, value);
  return true;
}

bool config_attr_nonempty(apr_pool_t *pool, const apr_xml_elem *elem, const char *name, const char **out) {
  const char *value = xml_attr_get(elem, name);
  if (value == nullptr || *value == '\0') return false;
  *out = apr_pstrdup(pool, value);
  return true;
}

void config_invalid_attribute(const char *attribute, const apr_xml_elem *elem, int level) {
  LOG4C(kConfigModule, level,
        log4c_sprintf("Missing or invalid value for %s atribute of %s element, using default value...", attribute,
                      elem->name));
}

void config_unknown_element(const apr_xml_elem *elem) {
  LOG4C(kConfigModule, LOG4C_WARN, log4c_sprintf("Unknown element encountered %s, skipping...", elem->name));
}

bool config_name_is(const apr_xml_elem *elem, const char *name) { return strcasecmp(elem->name, name) == 0; }
