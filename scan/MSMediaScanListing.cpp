// A folder of the walk read ahead of its turn (see the header).
#include "MSMediaScanListing.h"

#include <apr_strings.h>

#include <cstring>

#include "CommonMultimedia.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "MSMediaScanAlbumArt.h"
#include "MSMediaScanClassify.h"
#include "MSMediaScanLookup.h"
#include "MSMediaScanPrefetch.h"
#include "MSMediaScanLog.h"
#include "PlatformFolderEntry.h"
#include "PlatformPathNames.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr std::size_t kPathBuffer = 512;

bool plain_file(const apr_finfo_t &info) { return (info.valid & APR_FINFO_TYPE) != 0 && info.filetype == APR_REG; }

// The relative folder in the letter case the file system reports, when the
// long form of the folder ends with it.
const char *true_case(apr_pool_t *pool, const char *folder, const char *relative) {
  char short_form[kPathBuffer];
  char long_form[kPathBuffer];
  std::size_t length = platform_short_path_name(folder, short_form, sizeof short_form);
  if (length >= sizeof short_form) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("short path too long for buffer: %s", folder));
    return relative;
  }
  length = platform_long_path_name(short_form, long_form, sizeof long_form);
  if (length >= sizeof long_form) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("long path too long for buffer: %s", folder));
    return relative;
  }
  const std::size_t relative_length = std::strlen(relative);
  if (length < relative_length) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("some weird buffer length issue: %s and %s", long_form, relative));
    return relative;
  }
  const char *ending = long_form + length - relative_length;
  return str_icompare(ending, relative) == 0 ? apr_pstrdup(pool, ending) : relative;
}

// Whether the folder may hold tracks, whose art is looked for beside them.
bool holds_music(const std::vector<TreeEntry> &listed) {
  for (const TreeEntry &entry : listed) {
    const char *extension = path_extension(entry.name.c_str(), 0);
    if (extension == nullptr) continue;
    const int media_class = media_type_by_extension(extension, -1)->media_class;
    if (media_class == MEDIA_AUDIO || media_class == MEDIA_AUDIO_OR_VIDEO) return true;
  }
  return false;
}

// A whole listing spares the album art its own listing of a folder of
// music; the images of other folders are not kept.
void fill_art_cache(apr_pool_t *pool, ScanContext *scan, const char *folder, const std::vector<TreeEntry> &listed) {
  if (scan->art_cache == nullptr || !holds_music(listed)) return;
  Pool scratch(pool, MSMS_MODULE);
  auto **names = static_cast<const char **>(apr_palloc(scratch, sizeof(char *) * (listed.size() + 1)));
  for (std::size_t i = 0; i < listed.size(); ++i) names[i] = listed[i].name.c_str();
  msms_art_cache_fill(scan->art_cache, folder, names, static_cast<int>(listed.size()));
}

// Copies the whole listing of the folder relative below root into *listed
// and kept, unless kept is full or the folder holds more entries than a
// listing keeps.
bool keep_listing(TreeListings *kept, const char *root, const char *relative, std::vector<TreeEntry> *listed) {
  if (kept->entries >= TREE_KEEP_LIMIT) return kept->whole = false;
  if (kept->open == nullptr) kept->open = std::make_unique<OpenFolders>(root);
  bool whole = true;
  const bool opened = msms_tree_list(kept->open.get(), relative, [&](TreeEntry &&entry) {
    whole = listed->size() < TREE_READ_WINDOW;
    if (whole) listed->push_back(std::move(entry));
    return whole;
  });
  if (!opened || !whole) {
    kept->whole = kept->whole && !opened;
    listed->clear();
    return false;
  }
  kept->entries += listed->size();
  kept->folders.emplace(relative, *listed);
  return true;
}

// The folder's listing made before its turn: by the tree reader, or by the
// walk before the pass (for a pass without a reader), or made whole now by
// the walk before the pass, which keeps it for the pass. False: the folder
// is the walk's to read entry by entry.
bool take_listing(ScanContext *scan, const char *relative, std::vector<TreeEntry> *listed) {
  if (scan->tree != nullptr) return msms_tree_read_take(scan->tree, relative, listed);
  TreeListings *kept = scan->listings;
  if (kept == nullptr) return false;
  if (scan->playlists_only) return keep_listing(kept, scan->root, relative, listed);
  auto found = kept->folders.find(relative);
  if (found == kept->folders.end()) return false;
  *listed = std::move(found->second);
  kept->folders.erase(found);
  return true;
}

}  // namespace

std::unique_ptr<FolderListing> FolderListing::open(apr_pool_t *pool, ScanContext *scan, const char *relative,
                                                   bool recursive, FolderListing *parent, bool early) {
  apr_pool_t *own = pool_create_or_die(pool, MSMS_MODULE);
  const char *path = apr_pstrcat(own, scan->root, relative, nullptr);
  const char *canonical = path_canonical(own, path);
  apr_dir_t *dir = nullptr;
  std::vector<TreeEntry> listed;
  // The root's objects are looked up while the tree reader lists it.
  const bool root = relative[0] == '\0';
  if (root) msms_prefetch_enter(scan->prefetch, scan->db, canonical);
  // Looking up a tree the prefetch does not cover would replace the trees
  // whose answers entries read ahead still hold.
  if ((early && !msms_prefetch_covers(scan->prefetch, canonical)) ||
      (!take_listing(scan, relative, &listed) && apr_dir_open(&dir, path, own) != APR_SUCCESS)) {
    apr_pool_destroy(own);
    return nullptr;
  }
  FolderScan folder{own, relative, apr_hash_make(own), apr_hash_make(own)};
  if (!root) folder.relative = true_case(own, path, relative);
  if (dir == nullptr && !scan->playlists_only) fill_art_cache(own, scan, canonical, listed);
  if (!root) msms_prefetch_enter(scan->prefetch, scan->db, canonical);
  return std::unique_ptr<FolderListing>(
      new FolderListing(own, scan, folder, path, dir, std::move(listed), recursive, parent, early));
}

FolderListing::FolderListing(apr_pool_t *pool, ScanContext *scan, FolderScan folder, const char *path,
                             apr_dir_t *dir, std::vector<TreeEntry> listed, bool recursive, FolderListing *parent,
                             bool early)
    : pool_(pool),
      scan_(scan),
      folder_(folder),
      path_(path),
      dir_(dir),
      listed_(std::move(listed)),
      recursive_(recursive),
      parent_(parent),
      early_(early) {
  if (early_) scan_->listings_ahead++;
}

FolderListing::~FolderListing() {
  while (count_ > 0) pop();
  if (dir_ != nullptr && apr_dir_close(dir_) != APR_SUCCESS) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not close folder %s", path_));
  }
  if (early_) scan_->listings_ahead--;
  apr_pool_destroy(pool_);
}

// Only in a recursive walk do the folders around the one walked look for
// what it looks for.
Listed *FolderListing::front() {
  fill(true);
  if (recursive_ && scan_->ahead != nullptr) {
    for (FolderListing *done = this; done->parent_ != nullptr && done->complete(); done = done->parent_) {
      done->parent_->fill(false);
    }
  }
  return count_ > 0 ? &ring_[first_] : nullptr;
}

void FolderListing::pop() {
  Listed &entry = ring_[first_];
  if (entry.lookup.job != nullptr) msms_ahead_release(scan_->ahead, entry.lookup.job);
  if (entry.pool != nullptr) apr_pool_destroy(entry.pool);
  entry.opened.reset();
  first_ = (first_ + 1) % AHEAD_WINDOW;
  --count_;
}

// Whether the listing has read all its entries and each of them is passable:
// its walk will queue nothing more, so what follows it in its parent's walk
// may be queued now.
bool FolderListing::complete() const {
  if (!end_) return false;
  for (int i = 0; i < count_; ++i) {
    if (!passable(ring_[(first_ + i) % AHEAD_WINDOW])) return false;
  }
  return true;
}

// Whether reading on past entry keeps the walk's order: it leads to no
// folder, or to one whose listing is complete. A link is resolved at its
// turn only.
bool FolderListing::passable(const Listed &entry) {
  const apr_finfo_t &info = entry.info;
  const bool folder = (info.valid & APR_FINFO_TYPE) != 0 && (info.filetype == APR_DIR || info.filetype == APR_LNK);
  return !folder || (entry.opened != nullptr && entry.opened->complete());
}

// Reading one more entry ahead of the walk must leave its inspection a job
// and open no more listings ahead than allowed.
bool FolderListing::may_read_ahead() const {
  return msms_ahead_has_room(scan_->ahead) && scan_->listings_ahead < LISTINGS_AHEAD;
}

// Up to AHEAD_WINDOW entries with an inspection worker, else one at a time;
// turn: the walk wants the listing's next entry, read even when nothing may
// be read ahead. A subfolder read ahead reads on before its parent, which
// goes on past it once it is complete.
void FolderListing::fill(bool turn) {
  const bool ahead = scan_->ahead != nullptr;
  const int capacity = ahead ? AHEAD_WINDOW : 1;
  for (;;) {
    if (count_ > 0) {
      Listed &last = ring_[(first_ + count_ - 1) % AHEAD_WINDOW];
      if (last.opened != nullptr) last.opened->fill(false);
      if (!passable(last)) return;
    }
    if (end_ || count_ == capacity || ((count_ > 0 || !turn) && !may_read_ahead())) return;
    Listed &entry = ring_[(first_ + count_) % AHEAD_WINDOW];
    end_ = !read(&entry);
    if (end_) return;
    entry.pool = nullptr;
    entry.lookup = FileLookup{};
    entry.opened = nullptr;
    ++count_;
    if (ahead && plain_file(entry.info)) look_up(&entry);
    if (ahead && recursive_ && real_folder(entry.info) && scan_->listings_ahead < LISTINGS_AHEAD) {
      open_subfolder(&entry);
    }
  }
}

// The next entry to walk. An entry that vanished before its status was read keeps no type.
bool FolderListing::read(Listed *entry) {
  apr_finfo_t *info = &entry->info;
  const char *name = dir_ != nullptr ? read_folder(info) : take_listed(info);
  if (name == nullptr) return false;
  entry->path = apr_pstrcat(pool_, path_, "/", name, nullptr);
  info->name = name;
  info->fname = entry->path;
  info->pool = pool_;
  return true;
}

// The next entry's name (in the listing's pool) and status from the folder.
const char *FolderListing::read_folder(apr_finfo_t *info) {
  for (;;) {
    const apr_status_t status = apr_dir_read(info, APR_FINFO_NAME, dir_);
    if (status != APR_SUCCESS && status != APR_INCOMPLETE) return nullptr;
    if (!walkable_entry(*info)) continue;
    const char *name = apr_pstrdup(pool_, info->name);
    // The walk that only notes playlist files passes over any other file
    // the folder's entry calls plain, so it needs no status of it.
    if (scan_->playlists_only && plain_file(*info) && !msms_is_playlist_name(name)) {
      info->size = 0;
      return name;
    }
    platform_folder_entry_status(dir_, name, info);
    return name;
  }
}

// The next entry's name and status from the tree reader's listing.
const char *FolderListing::take_listed(apr_finfo_t *info) {
  if (next_listed_ == listed_.size()) return nullptr;
  const TreeEntry &listed = listed_[next_listed_++];
  *info = listed.info;
  return apr_pstrmemdup(pool_, listed.name.data(), listed.name.size());
}

void FolderListing::look_up(Listed *entry) {
  entry->pool = pool_create_or_die(pool_, MSMS_MODULE);
  const ScanFile file{entry->info.name, entry->info.size, entry->info.mtime};
  msms_look_up_ahead(entry->pool, scan_, &folder_, &file, &entry->lookup);
}

// The subfolder's entries come next in the walk's order.
void FolderListing::open_subfolder(Listed *entry) {
  const char *relative = apr_pstrcat(pool_, folder_.relative, "/", entry->info.name, nullptr);
  entry->opened = open(pool_, scan_, relative, recursive_, this, true);
  if (entry->opened != nullptr) entry->opened->fill(false);
}
