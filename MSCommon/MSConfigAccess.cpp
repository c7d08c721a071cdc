// Handing the configuration record out under its read-write lock, and the
// questions other modules ask of it.
#include <apr_strings.h>

#include <cctype>
#include <string>

#include "MSConfigRead.h"
#include "log4c.h"

namespace {

int lock_failed() {
  LOG4C(kConfigModule, LOG4C_ERROR, "Unable to lock mutex");
  return APR_EGENERAL;
}

int take_lock(apr_status_t (*lock)(apr_thread_rwlock_t *), MSConfig **config) {
  *config = nullptr;
  if (g_msconfig.lock == nullptr || g_msconfig.config == nullptr) return lock_failed();
  if (lock(g_msconfig.lock) != APR_SUCCESS) return lock_failed();
  *config = g_msconfig.config;
  return APR_SUCCESS;
}

}  // namespace

void msconfig_unload() { g_msconfig = MSConfigState{}; }

int msconfig_get(const MSConfig **config) {
  MSConfig *record = nullptr;
  int status = take_lock(apr_thread_rwlock_rdlock, &record);
  *config = record;
  return status;
}

int msconfig_get_for_update(MSConfig **config) { return take_lock(apr_thread_rwlock_wrlock, config); }

int msconfig_release() {
  if (g_msconfig.lock == nullptr || apr_thread_rwlock_unlock(g_msconfig.lock) != APR_SUCCESS) return lock_failed();
  return APR_SUCCESS;
}

int msconfig_allow_remote() {
  const MSConfig *config = nullptr;
  if (msconfig_get(&config) != APR_SUCCESS) return 0;
  int allow = config->allow_remote_connection;
  msconfig_release();
  return allow;
}

int msconfig_read_header(const char *mime_type, int online) {
  if (mime_type == nullptr || g_msconfig.mime_types == nullptr) return 1;
  std::string key(mime_type);
  for (char &c : key) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  auto *entry = static_cast<const MSConfigMimeType *>(apr_hash_get(g_msconfig.mime_types, key.c_str(), key.size()));
  if (entry == nullptr) return 1;
  if (online && entry->read_header_online >= 0) return entry->read_header_online;
  return entry->read_header != 0 ? 1 : 0;
}

const MSConfigPaths *msconfig_paths() { return g_msconfig.paths_ready ? &g_msconfig.paths : nullptr; }
