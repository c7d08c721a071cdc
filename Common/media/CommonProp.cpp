// Property lists: instance counts under base names, values under
// "<instance>/<name>" keys.
#include "CommonProp.h"

#include <apr_strings.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <strings.h>
#include <string_view>

#include "CommonNumbers.h"
#include "CommonUserMessage.h"
#include "CommonUtf8.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "CommonProp";

// The key under which the instance count of name lives.
std::string_view base_name(const char *name) {
  const char *at = strchr(name, '@');
  if (at == nullptr || at == name) return name;
  return {name, static_cast<size_t>(at - name)};
}

int count_of(PropList *list, const char *name) {
  if (name == nullptr) return 0;
  std::string_view base = base_name(name);
  void *count = apr_hash_get(list, base.data(), static_cast<apr_ssize_t>(base.size()));
  return static_cast<int>(reinterpret_cast<intptr_t>(count));
}

void store_count(apr_pool_t *pool, PropList *list, const char *name, int count) {
  std::string_view base = base_name(name);
  const char *key = apr_pstrmemdup(pool, base.data(), base.size());
  apr_hash_set(list, key, APR_HASH_KEY_STRING, reinterpret_cast<void *>(static_cast<intptr_t>(count)));
}

// "<instance>/<name>", built directly: every read and write of a value
// makes its key, and the general formatter was most of their cost.
const char *value_key(apr_pool_t *pool, const char *name, int instance) {
  DecimalDigits digits;
  const std::size_t count = decimal_digits(instance, digits).size();
  const std::size_t length = std::strlen(name);
  auto *key = static_cast<char *>(apr_palloc(pool, count + 1 + length + 1));
  std::memcpy(key, digits, count);
  key[count] = '/';
  std::memcpy(key + count + 1, name, length + 1);
  return key;
}

// Descriptive texts, taken from tags and file names: kept as valid XML text
// of at most TEXT_MAX_BYTES, whatever bytes the source held, because they are
// stored, copied into sort keys and view names, and written into documents.
constexpr std::string_view kTextProperties[] = {
    "dc:title",     "dc:description", "upnp:longDescription", "upnp:artist",   "upnp:album",
    "upnp:genre",   "dc:creator",     "dc:publisher",         "upnp:author",   "upnp:producer",
    "upnp:director", "upnp:actor",    "dc:rights",            "upnp:userAnnotation",
};

bool is_text_property(const char *name) {
  for (std::string_view text : kTextProperties) {
    if (text == name) return true;
  }
  return false;
}

void store_value(apr_pool_t *pool, PropList *list, const char *name, int instance, const char *value) {
  if (value != nullptr && is_text_property(name)) {
    value = utf8_xml_clean(pool, value, std::strlen(value), TEXT_MAX_BYTES, UTF8_REPAIR_TEXT);
  }
  apr_hash_set(list, value_key(pool, name, instance), APR_HASH_KEY_STRING, value);
}

// The name of a slot; an empty or unknown slot is a caller's error.
const char *slot_name(int slot) {
  const char *name = prop_name(slot);
  if (name == nullptr) LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
  return name;
}

bool matches(std::string_view candidate, const char *name, int prefix_length) {
  size_t length = prefix_length > 0 ? static_cast<size_t>(prefix_length) : std::string_view::npos;
  std::string_view wanted(name);
  if (length != std::string_view::npos) {
    candidate = candidate.substr(0, length);
    wanted = wanted.substr(0, length);
  }
  if (candidate.size() != wanted.size()) return false;
  return strncasecmp(candidate.data(), wanted.data(), candidate.size()) == 0;
}

}  // namespace

PropList *prop_list_create(apr_pool_t *pool) { return apr_hash_make(pool); }

void prop_add_instance(apr_pool_t *pool, PropList *list, const char *name) {
  if (name == nullptr) return;
  store_count(pool, list, name, count_of(list, name) + 1);
}

void prop_add_instance(apr_pool_t *pool, PropList *list, int slot) {
  prop_add_instance(pool, list, slot_name(slot));
}

void prop_set(apr_pool_t *pool, PropList *list, const char *name, const char *value) {
  if (name == nullptr) return;
  int count = count_of(list, name);
  if (count == 0) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return;
  }
  store_value(pool, list, name, count - 1, value);
}

void prop_set(apr_pool_t *pool, PropList *list, int slot, const char *value) {
  prop_set(pool, list, slot_name(slot), value);
}

void prop_add(apr_pool_t *pool, PropList *list, const char *name, const char *value) {
  if (name == nullptr) return;
  prop_add_instance(pool, list, name);
  prop_set(pool, list, name, value);
}

void prop_add(apr_pool_t *pool, PropList *list, int slot, const char *value) {
  prop_add(pool, list, slot_name(slot), value);
}

void prop_set_at(apr_pool_t *pool, PropList *list, int slot, int instance, const char *value) {
  if (const char *name = slot_name(slot)) store_value(pool, list, name, instance, value);
}

void prop_set_all(apr_pool_t *pool, PropList *list, const char *name, const char *value) {
  int count = count_of(list, name);
  for (int instance = 0; instance < count; ++instance) store_value(pool, list, name, instance, value);
}

void prop_set_all(apr_pool_t *pool, PropList *list, int slot, const char *value) {
  prop_set_all(pool, list, slot_name(slot), value);
}

void prop_set_single(apr_pool_t *pool, PropList *list, const char *name, const char *value) {
  int count = count_of(list, name);
  if (count == 0) {
    prop_add(pool, list, name, value);
    return;
  }
  if (count > 1) {
    std::string_view base = base_name(name);
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("cannot have more than one property for %.*s", static_cast<int>(base.size()),
                        base.data()));
  }
  prop_set_all(pool, list, name, value);
}

void prop_set_single(apr_pool_t *pool, PropList *list, int slot, const char *value) {
  prop_set_single(pool, list, slot_name(slot), value);
}

const char *prop_get(apr_pool_t *pool, PropList *list, const char *name, int instance) {
  if (name == nullptr) return nullptr;
  return static_cast<const char *>(apr_hash_get(list, value_key(pool, name, instance), APR_HASH_KEY_STRING));
}

const char *prop_get(apr_pool_t *pool, PropList *list, int slot, int instance) {
  return prop_get(pool, list, slot_name(slot), instance);
}

const char *prop_get_last(apr_pool_t *pool, PropList *list, int slot) {
  int count = prop_count(list, slot);
  if (count == 0) {
    LOG4C(kModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return nullptr;
  }
  return prop_get(pool, list, slot, count - 1);
}

int prop_count(PropList *list, int slot) { return count_of(list, prop_name(slot)); }

int prop_delete(apr_pool_t *pool, PropList *list, int first, int end, int force) {
  const char *first_name = slot_name(first);
  if (first_name == nullptr) return APR_EGENERAL;
  int count = count_of(list, first_name);
  if (count > 1 || force > 0) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("trying to delete a multi valued property %s - failed", first_name));
    return APR_EGENERAL;
  }
  if (count == 0) return APR_SUCCESS;
  for (int slot = first; slot < end && slot < PROP_SLOT_COUNT; ++slot) {
    if (const char *name = prop_name(slot)) apr_hash_set(list, value_key(pool, name, 0), APR_HASH_KEY_STRING, nullptr);
  }
  std::string_view base = base_name(first_name);
  apr_hash_set(list, base.data(), static_cast<apr_ssize_t>(base.size()), nullptr);
  return APR_SUCCESS;
}

void prop_remove_all(apr_pool_t *pool, PropList *list, int first, int end) {
  const char *first_name = slot_name(first);
  if (first_name == nullptr) return;
  int count = count_of(list, first_name);
  for (int slot = first; slot < end && slot < PROP_SLOT_COUNT; ++slot) {
    const char *name = prop_name(slot);
    for (int instance = 0; name != nullptr && instance < count; ++instance) store_value(pool, list, name, instance, nullptr);
  }
  std::string_view base = base_name(first_name);
  apr_hash_set(list, base.data(), static_cast<apr_ssize_t>(base.size()), nullptr);
}

int prop_index_of(const char *name, int prefix_length) {
  if (name == nullptr) return 0;
  for (int slot = 0; slot < PROP_SLOT_COUNT; ++slot) {
    const char *candidate = PropNameTable[slot];
    if (candidate == nullptr) continue;
    if (matches(candidate, name, prefix_length)) return slot;
    const char *colon = strchr(candidate, ':');
    if (colon != nullptr && matches(colon + 1, name, prefix_length)) return slot;
  }
  return 0;
}

void prop_split_key(const char *key, const char **name, int *instance) {
  const char *slash = strchr(key, '/');
  if (slash == nullptr) {
    *name = key;
    *instance = -1;
    return;
  }
  *name = slash + 1;
  int number = 0;
  for (const char *digit = key; digit < slash; ++digit) {
    if (!isdigit(static_cast<unsigned char>(*digit)) || number > (INT_MAX - 9) / 10) {
      *instance = -1;
      return;
    }
    number = number * 10 + (*digit - '0');
  }
  *instance = slash == key ? -1 : number;
}

const char *prop_dump(apr_pool_t *pool, PropList *list) {
  const char *text = "";
  for (apr_hash_index_t *entry = apr_hash_first(pool, list); entry != nullptr; entry = apr_hash_next(entry)) {
    const void *key = nullptr;
    void *value = nullptr;
    apr_hash_this(entry, &key, nullptr, &value);
    const char *name = static_cast<const char *>(key);
    if (strchr(name, '/') == nullptr) {
      text = apr_psprintf(pool, "%s%s: %d\n", text, name, static_cast<int>(reinterpret_cast<intptr_t>(value)));
    } else {
      text = apr_psprintf(pool, "%s%s: %s\n", text, name, static_cast<const char *>(value));
    }
  }
  return text;
}
