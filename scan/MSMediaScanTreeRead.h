// MSMediaScanTreeRead: a thread that lists the folders of a recursive walk
// ahead of it, so that reading the file system runs on one core while the
// scan's thread waits on the library on the other.
//
// The reader visits the real folders below the root (links are left to the
// walk) in the walk's own order: a folder's whole listing, each entry with
// the status a listing reads, then its subfolders one after the other. It
// lists no further while TREE_READ_WINDOW entries wait to be taken, and once
// paused there, not before the walk took TREE_READ_RESUME of them: woken
// after every folder taken, it cost a thread switch or two per folder. A
// folder the walk asks for while the reader lists it is waited for; one it
// asks for before the reader got to it is the walk's to read, and the
// reader then drops its listing of that folder but still goes on below it.
// A folder of more than TREE_READ_WINDOW entries is left to the walk too,
// which reads it a few entries at a time, and the reader goes on below it.
// The reader touches nothing but its own state and logs nothing: a folder
// it cannot open is left to the walk, which warns at its turn.
#pragma once

#include <apr_file_info.h>
#include <apr_pools.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "MSMediaScanEntries.h"

// Entries listed and not yet taken at which the reader pauses, and the
// entries taken after which it goes on.
inline constexpr int TREE_READ_WINDOW = 2048;
inline constexpr int TREE_READ_RESUME = 512;

struct TreeReader;

// One entry of a folder but "." and "..": info holds the status a listing
// reads, of the entry itself for a link (valid 0 when the entry vanished
// before its status was read); its name and fname point nowhere.
struct TreeEntry {
  std::string name;
  apr_finfo_t info;
};

// Folders listed by the walk before a locked pass (relative -> entries, as
// msms_tree_read_take gives them), for the pass to take instead of reading
// them again. A folder of more than TREE_READ_WINDOW entries is not kept,
// nor anything past TREE_KEEP_LIMIT entries in all: those are read again.
// While whole, every folder the walk before the pass opened is kept, and
// the pass needs no reader: what it finds missing is new and read by it.
inline constexpr std::size_t TREE_KEEP_LIMIT = 16384;
struct TreeListings {
  std::unordered_map<std::string, std::vector<TreeEntry>> folders;
  std::size_t entries = 0;
  bool whole = true;
  std::unique_ptr<OpenFolders> open;  // the walk's, while it lists
};

// Empty listings, deleted with pool.
TreeListings *msms_tree_listings_make(apr_pool_t *pool);

// Reads the folder relative below the root of folders (opened there),
// giving take each entry but "." and ".." with the status a listing reads,
// until take returns false. False when the folder cannot be opened.
bool msms_tree_list(OpenFolders *folders, const std::string &relative, const std::function<bool(TreeEntry &&)> &take);

// Whether recursive walks read their trees ahead; on unless turned off.
// Internal: the tests compare a library scanned both ways.
void msms_tree_read_enable(bool on);
bool msms_tree_read_enabled();

// Starts reading the tree below root (without trailing "/"), with a pool
// of its own under pool; the folders of kept (may be null) are taken from
// it, not read, and kept is the reader's until it stops. Null when the
// thread cannot be started: the walk then reads every folder itself.
TreeReader *msms_tree_read_start(apr_pool_t *pool, const char *root, TreeListings *kept);

// The listing of the folder relative below the root ("" for the root, else
// "/a/b"), in the order the folder gave it; waits while the reader lists
// it. False when the reader has not listed it: the folder is then the
// walk's to read. The root is always waited for.
bool msms_tree_read_take(TreeReader *reader, const char *relative, std::vector<TreeEntry> *entries);

// Stops the reader, joins its thread and frees everything. Null is ignored.
void msms_tree_read_stop(TreeReader *reader);
