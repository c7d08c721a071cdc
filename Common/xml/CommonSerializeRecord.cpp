// Building serializer records: lines by property name, attributes on lines
// or on the record element, and the DIDL-Lite ordering of title and class.
#include <apr_strings.h>
#include <strings.h>

#include <cstring>
#include <string_view>

#include "CommonEscape.h"
#include "CommonSerialize.h"
#include "CommonSerializeFormats.h"
#include "CommonUrl.h"
#include "CommonUserMessage.h"
#include "CommonUtf8.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "CommonSerialize";
constexpr const char *kContainerClass = "object.container";
constexpr const char *kItemClass = "object.item";
// Values that are URLs of files: what text cannot carry is percent-encoded
// in them, so that the URL still names the file (see utf8_xml_clean); a web
// URL keeps the escapes it has.
constexpr std::string_view kUrlNames[] = {"res", "upnp:albumArtURI", "upnp:icon"};

// value as XML text: documents stay well-formed whatever bytes a file name
// or a tag brought into the library.
const char *xml_text(apr_pool_t *pool, const char *name, const char *value) {
  Utf8Repair repair = UTF8_REPAIR_TEXT;
  for (std::string_view url : kUrlNames) {
    if (name != nullptr && url == name) repair = url_is_remote(value) ? UTF8_REPAIR_WEB_URL : UTF8_REPAIR_PERCENT;
  }
  return utf8_xml_clean(pool, value, std::strlen(value), 0, repair);
}

bool is_prefix_nocase(const char *text, const char *prefix) {
  return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

// The line holding the n-th occurrence (from 0) of name, appending empty
// lines of that name as needed; 0 when the record is full.
int line_for(SerializeBuffer *buffer, SerializeRecord *record, const char *name, int n) {
  int seen = 0;
  for (int line = 1; line < record->count; ++line) {
    if (strcasecmp(record->lines[line].name, name) == 0 && seen++ == n) return line;
  }
  while (seen <= n) {
    if (record->count > SERIALIZE_MAX_LINES) {
      LOG4C(kModule, LOG4C_ERROR, "Internal static buffer too small, truncating...");
      return 0;
    }
    record->lines[record->count] = {apr_pstrdup(buffer->pool, name), "", ""};
    ++record->count;
    ++seen;
  }
  return record->count - 1;
}

void decide_didl_element(SerializeRecord *record, int line, const char *value) {
  if (is_prefix_nocase(value, kContainerClass)) {
    record->element = "container";
  } else if (is_prefix_nocase(value, kItemClass)) {
    record->element = "item";
  } else {
    LOG4C(kModule, LOG4C_ERROR, "Invalid value for the upnp:class property, cannot determine container/item");
  }
  bool title_first = record->count > 1 && strcasecmp(record->lines[1].name, "dc:title") == 0;
  if (serialize_move_line(record, line, title_first ? 2 : 1) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, "Failed to reposition class");
  }
}

// DIDL-Lite clients expect dc:title first and upnp:class second.
void order_didl_lines(SerializeRecord *record, const char *name, int n, int line, const char *value) {
  if (record->element == nullptr && strcasecmp(name, "upnp:class") == 0) {
    decide_didl_element(record, line, value);
  } else if (n == 0 && line > 1 && strcasecmp(name, "dc:title") == 0) {
    if (serialize_move_line(record, line, 1) != APR_SUCCESS) {
      LOG4C(kModule, LOG4C_ERROR, "Failed to reposition title");
    }
  }
}

void add_to_map(SerializeBuffer *buffer, SerializeRecord *record, const char *name, int n, const char *value) {
  const char *key = n != 0 ? apr_psprintf(buffer->pool, "%s[%d]", name, n) : apr_pstrdup(buffer->pool, name);
  apr_hash_set(record->map, key, APR_HASH_KEY_STRING, xml_unescape(buffer->pool, value));
}

void add_to_lines(SerializeBuffer *buffer, SerializeRecord *record, const char *name, int n, const char *value) {
  const char *at = strchr(name, '@');
  int line = 0;
  if (at != name) {
    const char *element = at != nullptr ? apr_pstrmemdup(buffer->pool, name, at - name) : name;
    line = line_for(buffer, record, element, n);
    if (line == 0) return;
  }
  SerializeLine &target = record->lines[line];
  if (at != nullptr) {
    target.attributes = apr_pstrcat(buffer->pool, target.attributes, " ", at + 1, "=\"", value, "\"", nullptr);
    return;
  }
  target.value = apr_pstrdup(buffer->pool, value);
  if (buffer->format == FORMAT_DIDL_LITE) order_didl_lines(record, name, n, line, target.value);
}

}  // namespace

SerializeBuffer *serialize_create(apr_pool_t *parent, SerializeFormat format) {
  apr_pool_t *pool = pool_create_or_die(parent, kModule);
  auto *buffer = static_cast<SerializeBuffer *>(apr_pcalloc(pool, sizeof(SerializeBuffer)));
  buffer->pool = pool;
  buffer->format = format;
  if (format < FORMAT_DIDL_LITE || format > FORMAT_BY_VALUE) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    buffer->format = FORMAT_UNUSED;
  }
  return buffer;
}

void serialize_new_record(SerializeBuffer *buffer, const char *element) {
  if (buffer->format == FORMAT_UNUSED) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return;
  }
  auto *record = static_cast<SerializeRecord *>(apr_pcalloc(buffer->pool, sizeof(SerializeRecord)));
  record->element = element != nullptr ? apr_pstrdup(buffer->pool, element) : kSerializeFormats[buffer->format].element;
  record->lines[0] = {"", "", ""};
  record->count = 1;
  if (buffer->format == FORMAT_BY_VALUE) record->map = apr_hash_make(buffer->pool);
  if (buffer->current != nullptr) {
    buffer->current->next = record;
  } else {
    buffer->first = record;
  }
  buffer->current = record;
}

void serialize_add(SerializeBuffer *buffer, const char *name, int n, const char *value) {
  SerializeRecord *record = buffer->current;
  if (record == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return;
  }
  if (value == nullptr) value = "";
  if (buffer->format == FORMAT_BY_VALUE) {
    add_to_map(buffer, record, name, n, value);
  } else {
    add_to_lines(buffer, record, name, n, xml_text(buffer->pool, name, value));
  }
}

void serialize_add_escaped(SerializeBuffer *buffer, const char *name, int n, const char *value) {
  serialize_add(buffer, name, n, xml_escape(buffer->pool, value));
}

int serialize_move_line(SerializeRecord *record, int from, int to) {
  if (record == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, "NULL item");
    return APR_BADARG;
  }
  if (from < 1 || from > SERIALIZE_MAX_LINES || to < 1 || to > SERIALIZE_MAX_LINES) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("invalid line number. current:%d new:%d", from, to));
    return APR_BADARG;
  }
  SerializeLine moved = record->lines[from];
  if (from < to) {
    memmove(&record->lines[from], &record->lines[from + 1], sizeof(SerializeLine) * (to - from));
  } else if (from > to) {
    memmove(&record->lines[to + 1], &record->lines[to], sizeof(SerializeLine) * (from - to));
  }
  record->lines[to] = moved;
  return APR_SUCCESS;
}
