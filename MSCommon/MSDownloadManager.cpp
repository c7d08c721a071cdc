// The download area's entries: adding, references, completions and the
// last-reference step.
//
// The engine's callbacks carry a Ticket (the URL and the temporary path) and
// not the entry: an entry may be forgotten, or replaced by a fresh download of
// its URL, while the engine still runs its old transfer; a completion whose
// ticket no longer matches an entry is ignored.
#include "MSDownloadManager.h"

#include <apr_file_info.h>
#include <apr_file_io.h>
#include <apr_hash.h>
#include <apr_strings.h>
#include <apr_thread_mutex.h>
#include <apr_thread_rwlock.h>
#include <apr_uuid.h>
#include <strings.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "CommonCancel.h"
#include "CommonDownload.h"
#include "CommonFileCache.h"
#include "CommonFiles.h"
#include "CommonUserMessage.h"
#include "MSConfig.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSDownloadManager";
constexpr int kEngineSource = 1;
// URLs of packet-capture sources, which this server does not record.
constexpr const char *kCapturePrefixes[] = {"pcap:"};

struct DownloadEntry {
  apr_pool_t *pool;
  int source;
  const char *url;
  const char *temp_path;
  const char *final_path;
  int state;
  apr_int64_t expected_size;
  int progress;
  int delete_unreferenced;
  const char *context_text;
  DlmDoneFn done;
  void *data;
  int refs;
  int discard;
  int in_callback;  // its done callback runs: the entry must stay
  int replaced;     // a fresh download of its URL took its place meanwhile
  int head_only;    // stops after a byte limit: never the whole resource
};

struct Ticket {
  std::string url;
  std::string temp_path;
};

struct DlmState {
  apr_pool_t *pool = nullptr;
  const char *folder = nullptr;
  apr_thread_rwlock_t *lock = nullptr;
  apr_thread_mutex_t *done_mutex = nullptr;
  apr_hash_t *entries = nullptr;
  std::atomic<int> shutting_down{0};
};
DlmState g_dlm;

void log_at(int level, const char *message) { LOG4C(kModule, level, message); }

// The file an entry stands for in messages: its temporary file while it has
// one, else its final name.
const char *shown_path(const DownloadEntry *entry) {
  return entry->temp_path != nullptr ? entry->temp_path : entry->final_path;
}

void cache_one(void (*operation)(const char *const *, int), const char *path) {
  const char *paths[] = {path};
  operation(paths, 1);
}

DownloadEntry *find(const char *url) {
  return static_cast<DownloadEntry *>(apr_hash_get(g_dlm.entries, url, APR_HASH_KEY_STRING));
}

DownloadEntry *find(const Ticket &ticket) {
  DownloadEntry *entry = find(ticket.url.c_str());
  return entry != nullptr && ticket.temp_path == entry->temp_path ? entry : nullptr;
}

void forget(DownloadEntry *entry) {
  if (find(entry->url) == entry) apr_hash_set(g_dlm.entries, entry->url, APR_HASH_KEY_STRING, nullptr);
  apr_pool_destroy(entry->pool);
}

DownloadEntry *entry_create(const char *url, const char *context_text, int flags, DlmDoneFn done, void *data) {
  apr_pool_t *pool = pool_create_or_die(nullptr, kModule);
  auto *entry = static_cast<DownloadEntry *>(apr_pcalloc(pool, sizeof(DownloadEntry)));
  entry->pool = pool;
  entry->source = kEngineSource;
  entry->url = apr_pstrdup(pool, url);
  entry->final_path = dlm_final_path(pool, g_dlm.folder, url);
  entry->expected_size = -1;
  entry->delete_unreferenced = (flags & DLM_KEEP_FILE) == 0;
  entry->discard = (flags & DLM_KEEP_DISCARD) != 0 ? entry->delete_unreferenced : 0;
  entry->context_text = context_text != nullptr ? apr_pstrdup(pool, context_text) : nullptr;
  entry->done = done;
  entry->data = data;
  return entry;
}

// Whether url's download was completed and kept under its final name.
bool final_file_exists(const char *url) {
  Pool pool(nullptr, kModule);
  const char *final_path = dlm_final_path(pool, g_dlm.folder, url);
  return final_path != nullptr && file_exists(final_path);
}

bool is_capture(const char *url) {
  for (const char *prefix : kCapturePrefixes)
    if (strncasecmp(url, prefix, std::strlen(prefix)) == 0) return true;
  return false;
}

void delete_download(const char *path) {
  Pool pool(nullptr, kModule);
  apr_status_t status = apr_file_remove(path, pool);
  char reason[256];
  if (status == APR_SUCCESS)
    log_at(LOG4C_INFO, log4c_sprintf("Deleted download file %s", path));
  else if (!APR_STATUS_IS_ENOENT(status))
    log_at(LOG4C_ERROR,
           log4c_sprintf("Could not delete file %s, reason is %s", path, apr_strerror(status, reason, sizeof reason)));
}

void keep_completed(DownloadEntry *entry) {
  if (entry->state == DLM_LOCKED) {
    cache_one(cache_release, entry->final_path);
    return;
  }
  if (entry->state != DLM_COMPLETED) return;
  cache_one(cache_lock, entry->final_path);
  apr_status_t status = apr_file_rename(entry->temp_path, entry->final_path, entry->pool);
  char reason[256];
  if (status == APR_SUCCESS)
    log_at(LOG4C_DEBUG, log4c_sprintf("Renamed file for URL %s from %s to %s", entry->url, entry->temp_path,
                                      entry->final_path));
  else
    log_at(LOG4C_ERROR, log4c_sprintf("Could not rename file for URL %s, reason: %s", entry->url,
                                      apr_strerror(status, reason, sizeof reason)));
  const char *paths[] = {entry->temp_path, entry->final_path};
  cache_release(paths, 2);
}

void discard(DownloadEntry *entry) {
  if (entry->state == DLM_DOWNLOADING && entry->source == kEngineSource) {
    download_cancel(entry->temp_path, 0);
    cache_one(cache_release, entry->temp_path);
    forget(entry);
    return;
  }
  if (entry->state != DLM_COMPLETED && entry->state != DLM_LOCKED) return;
  const char *path = entry->state == DLM_COMPLETED ? entry->temp_path : entry->final_path;
  delete_download(path);
  cache_one(cache_release, path);
}

// Under the write lock.
void last_reference(DownloadEntry *entry) {
  log_at(LOG4C_DEBUG, log4c_sprintf("Last reference removed for download URL: %s File %s", entry->url,
                                    shown_path(entry)));
  bool cancelled = entry->discard && entry->state == DLM_DOWNLOADING;
  if (entry->discard)
    discard(entry);
  else
    keep_completed(entry);
  if (!cancelled && entry->state != DLM_DOWNLOADING) forget(entry);
}

void on_headers(const char *, const char *, apr_int64_t size, void *context) {
  if (g_dlm.shutting_down.load() != 0) return;
  const auto *ticket = static_cast<const Ticket *>(context);
  apr_thread_rwlock_wrlock(g_dlm.lock);
  if (DownloadEntry *entry = find(*ticket)) {
    entry->expected_size = size;
    entry->progress = 1;
  }
  apr_thread_rwlock_unlock(g_dlm.lock);
}

// Runs the entry's callback without the table lock, under a temporary
// reference. Called and returns with the write lock held.
void call_back(DownloadEntry *entry, int success) {
  ++entry->refs;
  log_at(LOG4C_DEBUG, log4c_sprintf("Added temp ref (%d) for %s File %s", entry->refs, entry->url, entry->temp_path));
  entry->in_callback = 1;
  apr_thread_rwlock_unlock(g_dlm.lock);
  entry->done(entry->url, entry->context_text, success, entry->data);
  apr_thread_rwlock_wrlock(g_dlm.lock);
  entry->in_callback = 0;
  --entry->refs;
  log_at(LOG4C_DEBUG,
         log4c_sprintf("Removed temp ref (%d) for %s File %s", entry->refs, entry->url, entry->temp_path));
}

void on_done(const char *url, int success, void *context) {
  auto *ticket = static_cast<Ticket *>(context);
  log_at(LOG4C_DEBUG, log4c_sprintf("Download %s URL: %s saving to: %s", success ? "succeeded" : "failed", url,
                                    ticket->temp_path.c_str()));
  if (apr_thread_mutex_lock(g_dlm.done_mutex) != APR_SUCCESS)
    log_at(LOG4C_FATAL, "Could not lock mutex, application behavior is undefined...");
  apr_thread_rwlock_wrlock(g_dlm.lock);
  DownloadEntry *entry = g_dlm.shutting_down.load() == 0 ? find(*ticket) : nullptr;
  if (entry != nullptr) {
    entry->state = success ? DLM_COMPLETED : DLM_FAILED;
    if (!success) cache_one(cache_release, entry->temp_path);
    if (entry->done != nullptr) call_back(entry, success);
    if (entry->replaced)
      apr_pool_destroy(entry->pool);
    else if (entry->refs == 0)
      last_reference(entry);
  } else if (success) {
    // Discarded or replaced while its transfer ended: the file is no one's.
    delete_download(ticket->temp_path.c_str());
  }
  apr_thread_rwlock_unlock(g_dlm.lock);
  if (apr_thread_mutex_unlock(g_dlm.done_mutex) != APR_SUCCESS)
    log_at(LOG4C_FATAL, "Could not unlock mutex, possible deadlock...");
  delete ticket;
}

// Locks a completed download found at its final name. Under the write lock.
int lock_final_file(const char *url, const char *context_text, int flags, DlmDoneFn done, void *data) {
  DownloadEntry *entry = entry_create(url, context_text, flags, done, data);
  entry->state = DLM_LOCKED;
  entry->refs = 1;
  entry->expected_size = file_size(entry->final_path);
  cache_one(cache_lock, entry->final_path);
  apr_hash_set(g_dlm.entries, entry->url, APR_HASH_KEY_STRING, entry);
  log_at(LOG4C_INFO, log4c_sprintf("Locked completed download (ref = 1) %s File %s", url, entry->final_path));
  return APR_SUCCESS;
}

// A head copy gives way to a download of the whole resource: its transfer
// stops and its file goes, since nothing may take it for the whole.
void drop_head_copy(DownloadEntry *entry) {
  if (entry->state == DLM_DOWNLOADING) download_cancel(entry->temp_path, 0);
  if (entry->state == DLM_COMPLETED) delete_download(entry->temp_path);
  if (entry->state != DLM_FAILED) cache_one(cache_release, entry->temp_path);
}

// Starts a fresh download (cut after byte_limit bytes unless it is -1),
// replacing a failed entry or a head copy. Under the write lock.
int start_download(DownloadEntry *old, const char *url, const char *context_text, int flags, DlmDoneFn done,
                   void *data, apr_int64_t byte_limit = -1) {
  DownloadEntry *entry = entry_create(url, context_text, flags, done, data);
  if (entry->final_path == nullptr) {
    log_at(LOG4C_ERROR, log4c_sprintf("Could not add url %s to the download area", url));
    apr_pool_destroy(entry->pool);
    return APR_EGENERAL;
  }
  entry->temp_path = dlm_temp_path(entry->pool, g_dlm.folder, url);
  entry->head_only = byte_limit >= 0;
  // A head copy is read once and never kept.
  if (entry->head_only) entry->discard = 1;
  if (old != nullptr) {
    if (old->head_only) drop_head_copy(old);
    // The callers' references move to the fresh download; a failed entry
    // whose callback runs keeps its temporary one and is freed after it.
    entry->refs = old->refs - old->in_callback;
    if (old->in_callback) {
      apr_hash_set(g_dlm.entries, old->url, APR_HASH_KEY_STRING, nullptr);
      old->replaced = 1;
    } else {
      forget(old);
    }
  }
  if (flags & DLM_TAKE_REF) {
    ++entry->refs;
    log_at(LOG4C_DEBUG, log4c_sprintf("Added ref (%d) for new dl %s File %s", entry->refs, url, entry->temp_path));
  }
  cache_one(cache_lock, entry->temp_path);
  apr_hash_set(g_dlm.entries, entry->url, APR_HASH_KEY_STRING, entry);
  auto *ticket = new Ticket{entry->url, entry->temp_path};
  DownloadJobSpec spec;
  spec.url = url;
  spec.path = entry->temp_path;
  spec.refuse_live = (flags & DLM_REFUSE_LIVE) != 0;
  spec.byte_limit = byte_limit;
  spec.done = on_done;
  spec.headers = on_headers;
  spec.context = ticket;
  if (download_queue_job(spec) == APR_SUCCESS) {
    log_at(LOG4C_INFO,
           log4c_sprintf("Url %s added to the download area.  Download to %s", url, entry->temp_path));
    return APR_SUCCESS;
  }
  delete ticket;
  log_at(LOG4C_ERROR, log4c_sprintf("Could not add url %s to the download area", url));
  cache_one(cache_release, entry->temp_path);
  forget(entry);
  return APR_EGENERAL;
}

int add_locked(const char *url, const char *context_text, int flags, DlmDoneFn done, void *data) {
  DownloadEntry *entry = find(url);
  if (entry != nullptr && entry->state != DLM_FAILED && !entry->head_only) {
    if (flags & DLM_TAKE_REF) {
      ++entry->refs;
      log_at(LOG4C_DEBUG, log4c_sprintf("Added ref (%d) in add for %s File %s", entry->refs, url, shown_path(entry)));
    }
    if ((flags & DLM_KEEP_DISCARD) == 0) entry->discard = 0;
    return APR_SUCCESS;
  }
  if (is_capture(url)) {
    log_at(LOG4C_ERROR, "PCAP is disabled");
    return APR_ENOTIMPL;
  }
  if (entry == nullptr) {
    if (final_file_exists(url))
      return (flags & DLM_TAKE_REF) ? lock_final_file(url, context_text, flags, done, data) : APR_SUCCESS;
  }
  return start_download(entry, url, context_text, flags, done, data);
}

void report_at_shutdown(const DownloadEntry *entry) {
  const char *file = shown_path(entry);
  const char *format = nullptr;
  if (entry->state == DLM_DOWNLOADING)
    format = "Active download %s for url %s still downloading at shutdown.";
  else if (entry->refs > 0)
    format = entry->state == DLM_FAILED ? "Failed file %s for url %s still referenced at shutdown."
                                        : "Active download %s for url %s still referenced at shutdown.";
  else if (entry->state == DLM_FAILED)
    format = "Unexpected - failed file %s for url %s not renamed but not referenced.";
  else if (entry->state == DLM_COMPLETED)
    format = "Unexpected - completed file %s for url %s not renamed but not referenced.";
  if (format != nullptr) log_at(LOG4C_WARN, log4c_sprintf(format, file, entry->url));
}

// Whether a transfer still writes path: the engine holds a shared lock on
// every file it writes, which a process sharing the folder may own.
bool being_written(const char *path, apr_pool_t *pool) {
  apr_file_t *file = nullptr;
  if (apr_file_open(&file, path, APR_FOPEN_READ, APR_FPROT_OS_DEFAULT, pool) != APR_SUCCESS) return false;
  const apr_status_t status = apr_file_lock(file, APR_FLOCK_EXCLUSIVE | APR_FLOCK_NONBLOCK);
  apr_file_close(file);
  return status != APR_SUCCESS && APR_STATUS_IS_EAGAIN(status);
}

// Temporary files of this and earlier runs, "<uuid>.part[.<extension>]",
// but those a running transfer writes.
void delete_leftovers() {
  Pool pool(nullptr, kModule);
  apr_dir_t *dir = nullptr;
  if (apr_dir_open(&dir, g_dlm.folder, pool) != APR_SUCCESS) return;
  apr_finfo_t entry;
  std::vector<std::string> leftovers;
  while (apr_dir_read(&entry, APR_FINFO_TYPE | APR_FINFO_NAME, dir) == APR_SUCCESS)
    if (entry.filetype == APR_REG && std::strstr(entry.name, ".part") != nullptr &&
        std::strlen(entry.name) >= APR_UUID_FORMATTED_LENGTH + 5 &&
        std::strncmp(entry.name + APR_UUID_FORMATTED_LENGTH, ".part", 5) == 0)
      leftovers.push_back(std::string(g_dlm.folder) + "/" + entry.name);
  apr_dir_close(dir);
  for (const std::string &path : leftovers)
    if (!being_written(path.c_str(), pool)) delete_download(path.c_str());
}

apr_status_t forget_state(void *) {
  g_dlm.lock = nullptr;
  g_dlm.done_mutex = nullptr;
  g_dlm.entries = nullptr;
  g_dlm.pool = nullptr;
  return APR_SUCCESS;
}

}  // namespace

int dlm_init(apr_pool_t *pool, const char *folder) {
  g_dlm.pool = pool_create_or_die(pool, kModule);
  // The state's lock and table die with the pool: calls after that find the
  // module not started instead of freed memory.
  apr_pool_cleanup_register(g_dlm.pool, nullptr, forget_state, apr_pool_cleanup_null);
  g_dlm.shutting_down = 0;
  if (folder == nullptr && msconfig_paths() != nullptr) folder = msconfig_paths()->download_dir;
  char *own = apr_pstrdup(g_dlm.pool, folder != nullptr ? folder : "");
  for (std::size_t length = std::strlen(own); length > 1 && own[length - 1] == '/'; --length) own[length - 1] = '\0';
  g_dlm.folder = own;
  if (apr_thread_rwlock_create(&g_dlm.lock, g_dlm.pool) != APR_SUCCESS) {
    log_at(LOG4C_ERROR, "Could no create mutex");
    return APR_EGENERAL;
  }
  if (apr_thread_mutex_create(&g_dlm.done_mutex, APR_THREAD_MUTEX_DEFAULT, g_dlm.pool) != APR_SUCCESS) {
    log_at(LOG4C_ERROR, "Could not create mutex");
    return APR_EGENERAL;
  }
  g_dlm.entries = apr_hash_make(g_dlm.pool);
  apr_status_t status = apr_dir_make_recursive(g_dlm.folder, APR_FPROT_UREAD | APR_FPROT_UWRITE | APR_FPROT_UEXECUTE,
                                               g_dlm.pool);
  if (status != APR_SUCCESS && !APR_STATUS_IS_EEXIST(status)) {
    char reason[256];
    log_at(LOG4C_ERROR, log4c_sprintf("Could not create folder for storing downloaded data, reason: %s",
                                      apr_strerror(status, reason, sizeof reason)));
    return APR_EGENERAL;
  }
  cache_add_folder(g_dlm.folder);
  return APR_SUCCESS;
}

int dlm_add(const char *url, const char *context_text, int flags, DlmDoneFn done, void *data) {
  if (url == nullptr || g_dlm.lock == nullptr) {
    log_at(LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  apr_thread_rwlock_wrlock(g_dlm.lock);
  int status = add_locked(url, context_text, flags, done, data);
  apr_thread_rwlock_unlock(g_dlm.lock);
  return status;
}

void dlm_unref(const char *url) {
  apr_thread_rwlock_wrlock(g_dlm.lock);
  DownloadEntry *entry = find(url);
  if (entry == nullptr || entry->refs <= 0) {
    log_at(LOG4C_ERROR, log4c_sprintf("Unreference of download that is not referenced. URL: %s", url));
  } else {
    --entry->refs;
    log_at(LOG4C_DEBUG, log4c_sprintf("Removed ref (%d) for %s File %s", entry->refs, url, shown_path(entry)));
    if (entry->refs == 0) last_reference(entry);
  }
  apr_thread_rwlock_unlock(g_dlm.lock);
}

void dlm_discard(const char *url) {
  apr_thread_rwlock_wrlock(g_dlm.lock);
  if (DownloadEntry *entry = find(url)) entry->discard = 1;
  apr_thread_rwlock_unlock(g_dlm.lock);
}

int dlm_is_downloading(const char *context_text) {
  if (context_text == nullptr) return 0;
  int downloading = 0;
  apr_thread_rwlock_rdlock(g_dlm.lock);
  for (apr_hash_index_t *i = apr_hash_first(nullptr, g_dlm.entries); i != nullptr && !downloading;
       i = apr_hash_next(i)) {
    const auto *entry = static_cast<const DownloadEntry *>(apr_hash_this_val(i));
    downloading = entry->state == DLM_DOWNLOADING && entry->context_text != nullptr &&
                  std::strcmp(entry->context_text, context_text) == 0;
  }
  apr_thread_rwlock_unlock(g_dlm.lock);
  return downloading;
}

int dlm_ref_completed(apr_pool_t *pool, const char *url, const char **path, apr_int64_t *size) {
  apr_thread_rwlock_wrlock(g_dlm.lock);
  DownloadEntry *entry = find(url);
  int status = APR_SUCCESS;
  if (entry == nullptr) {
    if (final_file_exists(url)) {
      lock_final_file(url, nullptr, DLM_KEEP_FILE, nullptr, nullptr);
      entry = find(url);
      --entry->refs;
    }
  }
  if (entry == nullptr || entry->head_only || (entry->state != DLM_COMPLETED && entry->state != DLM_LOCKED)) {
    status = APR_NOTFOUND;
  } else {
    const char *file = entry->state == DLM_COMPLETED ? entry->temp_path : entry->final_path;
    apr_finfo_t info;
    if (apr_stat(&info, file, APR_FINFO_SIZE, pool) != APR_SUCCESS) {
      log_at(LOG4C_ERROR, log4c_sprintf("Can't get file size for %s", file));
      status = APR_EGENERAL;
    } else {
      ++entry->refs;
      log_at(LOG4C_DEBUG, log4c_sprintf("Added ref (%d) for %s File %s", entry->refs, url, file));
      *path = apr_pstrdup(pool, file);
      *size = info.size;
    }
  }
  apr_thread_rwlock_unlock(g_dlm.lock);
  return status;
}

namespace {

constexpr apr_interval_time_t kHeadPoll = 20000;  // 20 ms

enum class HeadState { waiting, ready, failed };

// Where the head of url's download stands; on ready, *copy filled in pool.
// Under the read lock.
HeadState head_state(apr_pool_t *pool, const char *url, apr_int64_t head_bytes, DlmHeadCopy *copy) {
  const DownloadEntry *entry = find(url);
  if (entry == nullptr || entry->state == DLM_FAILED) return HeadState::failed;
  const char *file = entry->state == DLM_LOCKED ? entry->final_path : entry->temp_path;
  const apr_int64_t size = file_size(file);
  if (entry->state == DLM_DOWNLOADING && size < head_bytes) return HeadState::waiting;
  copy->path = apr_pstrdup(pool, file);
  copy->size = size;
  // Without a size from the server, only a transfer that ended short of the
  // limit tells that it was all there is.
  const bool ended_short = entry->state != DLM_DOWNLOADING && size < head_bytes;
  copy->total = entry->expected_size >= 0 ? entry->expected_size : ended_short ? size : -1;
  return HeadState::ready;
}

// A reference on url's download, a new head copy when there is none to
// share. Under the write lock.
int ref_for_head(const char *url, apr_int64_t head_bytes) {
  DownloadEntry *entry = find(url);
  if (entry != nullptr && entry->state != DLM_FAILED) {
    ++entry->refs;
    log_at(LOG4C_DEBUG, log4c_sprintf("Added ref (%d) for %s File %s", entry->refs, url, shown_path(entry)));
    return APR_SUCCESS;
  }
  if (entry == nullptr) {
    if (final_file_exists(url))
      return lock_final_file(url, nullptr, DLM_KEEP_FILE, nullptr, nullptr);
  }
  if (is_capture(url)) {
    log_at(LOG4C_ERROR, "PCAP is disabled");
    return APR_ENOTIMPL;
  }
  return start_download(entry, url, nullptr, DLM_TAKE_REF | DLM_REFUSE_LIVE, nullptr, nullptr, head_bytes);
}

}  // namespace

int dlm_ref_head(apr_pool_t *pool, const char *url, apr_int64_t head_bytes, CancelCheck cancel, void *context,
                 DlmHeadCopy *copy) {
  if (url == nullptr || g_dlm.lock == nullptr || head_bytes <= 0) {
    log_at(LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  apr_thread_rwlock_wrlock(g_dlm.lock);
  const int added = ref_for_head(url, head_bytes);
  apr_thread_rwlock_unlock(g_dlm.lock);
  if (added != APR_SUCCESS) return added;
  const apr_time_t deadline = apr_time_now() + DLM_HEAD_WAIT;
  for (;;) {
    apr_thread_rwlock_rdlock(g_dlm.lock);
    const HeadState state = head_state(pool, url, head_bytes, copy);
    apr_thread_rwlock_unlock(g_dlm.lock);
    if (state == HeadState::ready) return APR_SUCCESS;
    int status = APR_EGENERAL;
    if (state == HeadState::failed)
      log_at(LOG4C_WARN, log4c_sprintf("Could not get the head of url %s, its download failed", url));
    else if (cancel_requested(cancel, context))
      status = COMMON_CANCELLED;
    else if (apr_time_now() >= deadline)
      log_at(LOG4C_WARN, log4c_sprintf("Could not get the head of url %s in time", url));
    else {
      apr_sleep(kHeadPoll);
      continue;
    }
    // The last reference of a head copy stops its transfer and deletes it.
    dlm_unref(url);
    return status;
  }
}

void dlm_cleanup() {
  if (g_dlm.lock == nullptr) return;
  log_at(LOG4C_INFO, "Cleanup of downloads called.");
  g_dlm.shutting_down = 1;
  apr_thread_mutex_lock(g_dlm.done_mutex);
  apr_thread_rwlock_wrlock(g_dlm.lock);
  std::vector<DownloadEntry *> entries;
  for (apr_hash_index_t *i = apr_hash_first(nullptr, g_dlm.entries); i != nullptr; i = apr_hash_next(i))
    entries.push_back(static_cast<DownloadEntry *>(apr_hash_this_val(i)));
  for (DownloadEntry *entry : entries) {
    report_at_shutdown(entry);
    // Its file is deleted below: finishing the transfer would be wasted.
    if (entry->state == DLM_DOWNLOADING) download_cancel(entry->temp_path, 0);
    forget(entry);
  }
  delete_leftovers();
  apr_thread_rwlock_unlock(g_dlm.lock);
  apr_thread_mutex_unlock(g_dlm.done_mutex);
}
