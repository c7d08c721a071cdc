// The walk's tree reader (see the header): one mutex and one condition guard
// the listings ready to take, the folders the walk claimed, the count of
// entries not taken and the folder being listed. The reader waits on the
// condition, between folders, while the count fills the window; the walk
// waits on it while the folder it asks for is being listed. Neither waits
// for the other at the same time, so they cannot block each other.
#include "MSMediaScanTreeRead.h"

#include <apr_strings.h>
#include <apr_thread_cond.h>
#include <apr_thread_mutex.h>
#include <apr_thread_proc.h>

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "CommonWorker.h"
#include "MSMediaScanEntries.h"
#include "MSMediaScanLog.h"
#include "PlatformFolderEntry.h"
#include "log4c_pool.h"

struct TreeReader {
  apr_pool_t *pool;  // the reader thread's alone, with an allocator of its own
  const char *root;
  TreeListings *kept;  // the reader thread's alone; may be null
  std::unique_ptr<OpenFolders> open;  // the reader thread's alone, while it reads
  Worker worker;  // its lock guards what follows
  int outstanding = 0;  // entries listed and not taken, plus one per folder
  std::string current;  // the folder being listed, while listing
  bool listing = false;
  bool paused = false;  // waiting for the walk to take TREE_READ_RESUME entries
  std::unordered_map<std::string, std::vector<TreeEntry>> ready;
  std::unordered_set<std::string> claimed;
};

namespace {

// Module state: the internal switch of msms_tree_read_enable.
std::atomic<bool> g_enabled{true};

// What the reader found in one folder.
struct FolderFound {
  bool opened = false;
  bool whole = true;  // entries holds the whole listing
  std::vector<TreeEntry> entries;
  std::vector<std::pair<std::string, FolderId>> subfolders;  // relative path, identity
};

// The folder's entries with their status, as FolderListing reads them, and
// its real subfolders that are not on the chain. A folder of more entries
// than the window is left to the walk, which reads it a few entries at a
// time; only its subfolders are kept. A folder listed before is taken from
// those listings.
FolderFound list_folder(TreeReader *reader, const std::string &relative, const WalkChain &chain) {
  FolderFound found;
  auto subfolder = [&](const TreeEntry &entry) {
    if (real_folder(entry.info) && !on_walk_chain(chain, entry.info)) {
      found.subfolders.push_back({relative + "/" + entry.name, {entry.info.device, entry.info.inode}});
    }
  };
  if (reader->kept != nullptr) {
    if (auto kept = reader->kept->folders.find(relative); kept != reader->kept->folders.end()) {
      found.opened = true;
      found.entries = std::move(kept->second);
      reader->kept->folders.erase(kept);
      for (const TreeEntry &entry : found.entries) subfolder(entry);
      return found;
    }
  }
  found.opened = msms_tree_list(reader->open.get(), relative, [&](TreeEntry &&entry) {
    subfolder(entry);
    if (found.whole && found.entries.size() == TREE_READ_WINDOW) {
      found.whole = false;
      found.entries = {};
    }
    if (found.whole) found.entries.push_back(std::move(entry));
    return !reader->worker.stopping;
  });
  return found;
}

// Waits, once the window is full, until the walk took TREE_READ_RESUME
// entries, then marks relative as being listed; false when stopping.
bool begin_listing(TreeReader *reader, const std::string &relative) {
  apr_thread_mutex_lock(reader->worker.lock);
  reader->paused = reader->outstanding >= TREE_READ_WINDOW;
  while (!reader->worker.stopping && reader->paused) {
    apr_thread_cond_wait(reader->worker.changed, reader->worker.lock);
  }
  reader->current = relative;
  reader->listing = true;
  apr_thread_mutex_unlock(reader->worker.lock);
  return !reader->worker.stopping;
}

// Hands the listing over, unless the walk claimed the folder meanwhile.
void publish(TreeReader *reader, const std::string &relative, std::vector<TreeEntry> *entries, bool listed) {
  apr_thread_mutex_lock(reader->worker.lock);
  reader->listing = false;
  if (reader->claimed.erase(relative) == 0 && listed) {
    reader->outstanding += static_cast<int>(entries->size()) + 1;
    reader->ready.emplace(relative, std::move(*entries));
  }
  apr_thread_cond_broadcast(reader->worker.changed);
  apr_thread_mutex_unlock(reader->worker.lock);
}

// Depth first, in each folder's own order; false when stopping. A folder
// on the path being read is not listed again, as the walk does not enter it.
bool read_tree(TreeReader *reader, const std::string &relative, WalkChain &chain) {
  if (!begin_listing(reader, relative)) return false;
  FolderFound found = list_folder(reader, relative, chain);
  publish(reader, relative, &found.entries, found.opened && found.whole && !reader->worker.stopping);
  for (const auto &[subfolder, id] : found.subfolders) {
    if (reader->worker.stopping) return false;
    chain.push_back(id);
    const bool going = read_tree(reader, subfolder, chain);
    chain.pop_back();
    if (!going) return false;
  }
  return !reader->worker.stopping;
}

void read_all(void *data) {
  auto *reader = static_cast<TreeReader *>(data);
  WalkChain chain = walk_chain_start(reader->pool, reader->root);
  reader->open = std::make_unique<OpenFolders>(reader->root);
  read_tree(reader, "", chain);
  reader->open.reset();
}

}  // namespace

TreeListings *msms_tree_listings_make(apr_pool_t *pool) {
  return pool_new<TreeListings>(pool);
}

bool msms_tree_list(OpenFolders *folders, const std::string &relative, const std::function<bool(TreeEntry &&)> &take) {
  const int fd = folders->open(relative);
  if (fd < 0) return false;
  platform_folder_list(fd, [&](const char *name) {
    TreeEntry entry{name, apr_finfo_t{}};
    platform_folder_entry_status_at(fd, name, &entry.info);
    return take(std::move(entry));
  });
  return true;
}

void msms_tree_read_enable(bool on) { g_enabled = on; }

bool msms_tree_read_enabled() { return g_enabled; }

TreeReader *msms_tree_read_start(apr_pool_t *pool, const char *root, TreeListings *kept) {
  auto *reader = new TreeReader;
  reader->kept = kept;
  reader->pool = pool_create_unshared_or_die(pool, MSMS_MODULE);
  reader->root = apr_pstrdup(reader->pool, root);
  // The root is taken as soon as the walk starts: marked now, the walk
  // waits for the reader's listing of it instead of reading it too.
  reader->listing = true;
  if (worker_start(reader->pool, &reader->worker, read_all, reader) != APR_SUCCESS) {
    apr_pool_destroy(reader->pool);
    delete reader;
    return nullptr;
  }
  return reader;
}

bool msms_tree_read_take(TreeReader *reader, const char *relative, std::vector<TreeEntry> *entries) {
  apr_thread_mutex_lock(reader->worker.lock);
  while (!reader->worker.stopping && reader->listing && reader->current == relative) {
    apr_thread_cond_wait(reader->worker.changed, reader->worker.lock);
  }
  auto found = reader->ready.find(relative);
  const bool listed = found != reader->ready.end();
  if (listed) {
    *entries = std::move(found->second);
    reader->ready.erase(found);
    reader->outstanding -= static_cast<int>(entries->size()) + 1;
    if (reader->paused && reader->outstanding <= TREE_READ_WINDOW - TREE_READ_RESUME) {
      reader->paused = false;
      apr_thread_cond_broadcast(reader->worker.changed);
    }
  } else {
    reader->claimed.insert(relative);
  }
  apr_thread_mutex_unlock(reader->worker.lock);
  return listed;
}

void msms_tree_read_stop(TreeReader *reader) {
  if (reader == nullptr) return;
  worker_stop(&reader->worker);
  apr_pool_destroy(reader->pool);
  delete reader;
}
