// MSMediaScanListing: one folder of the walk, open and read a few entries
// ahead of the walk's turn.
//
// With an inspection worker, each plain file read early has its object
// looked up then, and its inspection queued when its turn will need it. In
// a recursive walk (inside the tree the prefetch covers) a real subfolder
// read is opened then and read ahead too, because its entries come next in
// the walk's order; and once the folder being walked has read all its
// entries, the folders around it read on, so that the next folder's files
// are inspected while this one's last files are written. Reading ahead
// stops at a link (resolved at its turn) and at a subfolder whose listing
// may still grow, so nothing is queued past what the walk will meet first;
// and it waits while the worker's window is full or LISTINGS_AHEAD listings
// are open before their turn. The worker's jobs are
// thus always queued, taken and given back in the walk's order, across
// folders too. Entries not done when a listing ends give their jobs back.
#pragma once

#include <apr_file_info.h>
#include <apr_pools.h>

#include <memory>
#include <vector>

#include "MSMediaScanAhead.h"
#include "MSMediaScanContext.h"
#include "MSMediaScanEntries.h"
#include "MSMediaScanTreeRead.h"

class FolderListing;

// Listings opened ahead of their turn at most: a tree of small folders
// holding no media would otherwise be opened whole. Each costs its pools'
// first pages: with four times as many an unchanged rescan of 3,000 files
// took a fifth longer, and a first scan's writer waited no less.
inline constexpr int LISTINGS_AHEAD = AHEAD_WINDOW;

// An entry read before its turn: its name copied (the reader reuses its
// buffer), its full path and, for a plain file, its object looked up in a
// pool of its own. A directory comes with its listing once opened, early or
// at its turn, which its walk reads.
struct Listed {
  apr_finfo_t info;
  const char *path;
  apr_pool_t *pool;  // null: not looked up
  FileLookup lookup;
  std::unique_ptr<FolderListing> opened;
};

class FolderListing {
 public:
  // Opens the folder relative ("" for the root, else "/a/b") below the
  // walk's root, in a pool under pool, with the subfolders read ahead in a
  // recursive walk; parent is the listing holding the folder's entry (null
  // for the root). The tree reader's listing of the folder is used when it
  // has one. Null, silently, when it cannot be opened (the walk warns at the
  // folder's turn) or, early (before its turn), when the prefetch does not
  // cover it.
  static std::unique_ptr<FolderListing> open(apr_pool_t *pool, ScanContext *scan, const char *relative, bool recursive,
                                             FolderListing *parent, bool early = false);
  // Gives back the jobs of entries not done, closes the folder (ERROR "Could
  // not close folder %s" on failure) and frees its pool.
  ~FolderListing();
  FolderListing(const FolderListing &) = delete;
  FolderListing &operator=(const FolderListing &) = delete;

  FolderScan *folder() { return &folder_; }
  const char *path() const { return path_; }

  // Reads ahead, here and, once this folder has read all its entries, in
  // the folders around it; then gives the oldest entry, null at the end of
  // the folder.
  Listed *front();
  // The oldest entry's turn is over.
  void pop();

 private:
  FolderListing(apr_pool_t *pool, ScanContext *scan, FolderScan folder, const char *path, apr_dir_t *dir,
                std::vector<TreeEntry> listed, bool recursive, FolderListing *parent, bool early);
  bool complete() const;
  static bool passable(const Listed &entry);
  bool may_read_ahead() const;
  void fill(bool turn);
  bool read(Listed *entry);
  const char *read_folder(apr_finfo_t *info);
  const char *take_listed(apr_finfo_t *info);
  void look_up(Listed *entry);
  void open_subfolder(Listed *entry);

  apr_pool_t *pool_;
  ScanContext *scan_;
  FolderScan folder_;
  const char *path_;
  apr_dir_t *dir_;  // null: the entries come from listed_
  std::vector<TreeEntry> listed_;
  std::size_t next_listed_ = 0;
  bool recursive_;
  FolderListing *parent_;
  bool early_;  // opened before its turn: counted in scan->listings_ahead
  Listed ring_[AHEAD_WINDOW];
  int first_ = 0;
  int count_ = 0;
  bool end_ = false;
};
