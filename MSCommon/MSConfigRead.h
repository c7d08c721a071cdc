// Internal to MSConfig: the module state, and what the section readers
// share while the file is read. The loader owns the record until it is published; readers copy
// every text they keep into the record's pool, because the parsed document
// lives in a scratch pool that is destroyed after loading.
#pragma once

#include <apr_thread_rwlock.h>
#include <apr_xml.h>

#include "MSConfig.h"

inline constexpr const char *kConfigModule = "MSConfig";

// The record is published only once it is completely read.
struct MSConfigState {
  apr_thread_rwlock_t *lock;
  MSConfig *config;
  apr_hash_t *mime_types;  // lower-case MIME type -> MSConfigMimeType
  MSConfigPaths paths;
  bool paths_ready;
};
extern MSConfigState g_msconfig;

struct MSConfigLoader {
  apr_pool_t *pool;  // the record's pool
  MSConfig *config;
  apr_hash_t *mime_types;
  const MSConfigPaths *paths;
};

// Section readers, one per child element of the root.
void config_read_i18n(MSConfigLoader &loader, const apr_xml_elem *elem);
void config_read_content_directory(MSConfigLoader &loader, const apr_xml_elem *elem);
void config_read_player_profiles(MSConfigLoader &loader, const apr_xml_elem *elem);
void config_read_transcode(MSConfigLoader &loader, const apr_xml_elem *elem);
void config_read_cache(MSConfigLoader &loader, const apr_xml_elem *elem);
void config_read_service(MSConfigLoader &loader, const apr_xml_elem *elem);
void config_read_download(MSConfigLoader &loader, const apr_xml_elem *elem);
void config_read_mimetype_list(MSConfigLoader &loader, const apr_xml_elem *elem);
void config_read_anon_usage_stats(MSConfigLoader &loader, const apr_xml_elem *elem);

// Value readers. Each returns true when the attribute is present and valid,
// and only then writes *out. Strings are copied into pool.
bool config_attr_bool(const apr_xml_elem *elem, const char *name, int *out);
bool config_attr_uint(const apr_xml_elem *elem, const char *name, unsigned int *out);
bool config_attr_text(apr_pool_t *pool, const apr_xml_elem *elem, const char *name, const char **out);
bool config_attr_nonempty(apr_pool_t *pool, const apr_xml_elem *elem, const char *name, const char **out);

// "Missing or invalid value for %s atribute of %s element, using default
// value..." at level.
void config_invalid_attribute(const char *attribute, const apr_xml_elem *elem, int level);

// WARN "Unknown element encountered %s, skipping...".
void config_unknown_element(const apr_xml_elem *elem);

// Applies the first matching handler to each child of elem; children that
// match none get config_unknown_element.
struct MSConfigChildHandler {
  const char *name;
  void (*read)(MSConfigLoader &loader, const apr_xml_elem *child);
};
bool config_name_is(const apr_xml_elem *elem, const char *name);

template <typename Table>
void config_visit_children(MSConfigLoader &loader, const apr_xml_elem *elem, const Table &handlers) {
  for (const apr_xml_elem *child = elem->first_child; child != nullptr; child = child->next) {
    bool handled = false;
    for (const MSConfigChildHandler &handler : handlers) {
      if (config_name_is(child, handler.name)) {
        handler.read(loader, child);
        handled = true;
        break;
      }
    }
    if (!handled) config_unknown_element(child);
  }
}
