// The journal-gathering file layer (see the header).
#include "MSDBJournalVfs.h"

#include <sqlite3.h>

#include <cstring>
#include <mutex>
#include <new>

namespace {

// The most the default layer writes in one call (it masks larger amounts
// to 17 bits): 31 pages of 4 KiB, with their numbers and checksums in a
// journal, where a scan's commit journals about 1.4 MiB. The memory stays
// with a connection once it has written.
constexpr int kRunBytes = 0x1ffff;

struct File;

// Writes not yet on file, all to one file: the database or its journal.
struct Run {
  char *bytes = nullptr;
  File *file = nullptr;
  sqlite3_int64 offset = 0;
  int size = 0;
};

// A database file or its rollback journal; the default layer's file follows
// in the same allocation.
struct File {
  sqlite3_file base;
  // A database's open journal; a journal's database. Set and cleared by the
  // connection that owns both, so only its own thread touches them.
  File *journal = nullptr;
  File *database = nullptr;
  // A database: the name SQLite opened it by, which its journal's name
  // points into (sqlite3_filename_database), and the open databases' list.
  const char *name = nullptr;
  File *next = nullptr;
  // A database: its own or its journal's writes not yet on file; the
  // buffer lives as long as the connection.
  Run run;

  sqlite3_file *real() { return reinterpret_cast<sqlite3_file *>(this + 1); }
  const sqlite3_io_methods &io() { return *real()->pMethods; }
};

sqlite3_vfs *g_default = nullptr;
std::mutex g_databases_lock;
File *g_databases = nullptr;

File *file_of(sqlite3_file *file) { return reinterpret_cast<File *>(file); }

// A failed write drops the run. A journal's run: no page it covers has
// reached the database file, and SQLite's rollback after the error reads the
// journal again. A database's run: its pages' old contents are in the
// journal on file, which the rollback puts back.
int flush(Run &run) {
  if (run.size == 0) return SQLITE_OK;
  const int size = run.size;
  run.size = 0;
  return run.file->io().xWrite(run.file->real(), run.bytes, size, run.offset);
}

// The run of a database whose journal is open, or of that journal; none
// otherwise. A database's pages may wait only while its journal is open:
// the journal's close, which comes before its deletion, puts them on file.
// Written while no journal is linked (a journal not matched to its
// database, another journal mode), they could still be waiting when the
// journal that covers them is gone.
Run *run_of(File *self) {
  if (self->database != nullptr) return &self->database->run;
  return self->journal != nullptr ? &self->run : nullptr;
}

// Puts on file what is held back before the call the caller forwards.
int flush_before(sqlite3_file *file) {
  Run *run = run_of(file_of(file));
  return run != nullptr ? flush(*run) : SQLITE_OK;
}

// One run per connection, for whichever of its two files was written last,
// so that the calls reach the files in SQLite's order: a database page
// after its old contents in the journal, the journal's end after the pages.
int gathered_write(sqlite3_file *file, const void *data, int amount, sqlite3_int64 offset) {
  File *self = file_of(file);
  Run *run = run_of(self);
  if (run == nullptr) return self->io().xWrite(self->real(), data, amount, offset);
  if (run->size > 0 &&
      (run->file != self || offset != run->offset + run->size || run->size + amount > kRunBytes)) {
    const int rc = flush(*run);
    if (rc != SQLITE_OK) return rc;
  }
  if (amount > kRunBytes ||
      (run->bytes == nullptr && (run->bytes = static_cast<char *>(sqlite3_malloc(kRunBytes))) == nullptr)) {
    return self->io().xWrite(self->real(), data, amount, offset);
  }
  if (run->size == 0) {
    run->file = self;
    run->offset = offset;
  }
  std::memcpy(run->bytes + run->size, data, amount);
  run->size += amount;
  return SQLITE_OK;
}

int close_file(sqlite3_file *file) {
  File *self = file_of(file);
  const int flushed = flush_before(file);
  if (self->database != nullptr) self->database->journal = nullptr;
  if (self->journal != nullptr) self->journal->database = nullptr;
  if (self->name != nullptr) {
    std::lock_guard<std::mutex> hold(g_databases_lock);
    File **link = &g_databases;
    while (*link != self) link = &(*link)->next;
    *link = self->next;
  }
  sqlite3_free(self->run.bytes);
  const int closed = self->io().xClose(self->real());
  return flushed != SQLITE_OK ? flushed : closed;
}

using Io = sqlite3_io_methods;

// A method of the default layer, called on the file it opened. Its type
// (Result and Args) is deduced from the slot of sqlite3_io_methods the
// specialisation is put in.
template <auto Method, typename Result, typename... Args>
Result forward(sqlite3_file *file, Args... args) {
  return (file_of(file)->io().*Method)(file_of(file)->real(), args...);
}

// The same, once what is held back is on file.
template <auto Method, typename... Args>
int flush_then(sqlite3_file *file, Args... args) {
  const int rc = flush_before(file);
  return rc != SQLITE_OK ? rc : forward<Method, int>(file, args...);
}

// A read needs on file only what was written to the same file.
int read_file(sqlite3_file *file, void *data, int amount, sqlite3_int64 offset) {
  Run *run = run_of(file_of(file));
  if (run != nullptr && run->file == file_of(file)) {
    const int rc = flush(*run);
    if (rc != SQLITE_OK) return rc;
  }
  return forward<&Io::xRead, int>(file, data, amount, offset);
}

// SQLite drops a size hint's result, so a run that failed to reach the file
// there would be lost unreported, and a database page written after it
// would have no old contents in the journal. The hint itself writes nothing
// a rollback needs: at most bytes past the file's end.
int file_control(sqlite3_file *file, int op, void *arg) {
  if (op == SQLITE_FCNTL_SIZE_HINT) return forward<&Io::xFileControl, int>(file, op, arg);
  return flush_then<&Io::xFileControl>(file, op, arg);
}

// The lock goes even when the run could not be written.
int flush_and_unlock(sqlite3_file *file, int level) {
  const int rc = flush_before(file);
  const int unlocked = forward<&Io::xUnlock, int>(file, level);
  return rc != SQLITE_OK ? rc : unlocked;
}

// The same for a database and its journal.
constexpr sqlite3_io_methods kMethods = {
    .iVersion = 3,
    .xClose = close_file,
    .xRead = read_file,
    .xWrite = gathered_write,
    .xTruncate = flush_then<&Io::xTruncate>,
    .xSync = flush_then<&Io::xSync>,
    .xFileSize = flush_then<&Io::xFileSize>,
    .xLock = flush_then<&Io::xLock>,
    .xUnlock = flush_and_unlock,
    .xCheckReservedLock = forward<&Io::xCheckReservedLock>,
    .xFileControl = file_control,
    .xSectorSize = forward<&Io::xSectorSize>,
    .xDeviceCharacteristics = forward<&Io::xDeviceCharacteristics>,
    .xShmMap = forward<&Io::xShmMap>,
    .xShmLock = forward<&Io::xShmLock>,
    .xShmBarrier = forward<&Io::xShmBarrier>,
    .xShmUnmap = forward<&Io::xShmUnmap>,
    .xFetch = flush_then<&Io::xFetch>,
    .xUnfetch = forward<&Io::xUnfetch>,
};

// A journal finds its database by the name SQLite opened it by: the
// journal's name lies in the same allocation, so the pointer identifies
// the connection even among many on the same file.
void link_journal(File *journal, const char *journal_name) {
  const char *owner = sqlite3_filename_database(journal_name);
  std::lock_guard<std::mutex> hold(g_databases_lock);
  for (File *database = g_databases; database != nullptr; database = database->next) {
    if (database->name != owner) continue;
    if (database->journal == nullptr) {
      database->journal = journal;
      journal->database = database;
    }
    return;
  }
}

int open_file(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *out_flags) {
  const bool database = (flags & SQLITE_OPEN_MAIN_DB) != 0;
  if (name == nullptr || !(database || (flags & SQLITE_OPEN_MAIN_JOURNAL) != 0)) {
    return g_default->xOpen(g_default, name, file, flags, out_flags);
  }
  File *self = new (file) File{};
  const int rc = g_default->xOpen(g_default, name, self->real(), flags, out_flags);
  if (rc != SQLITE_OK) {
    if (self->real()->pMethods != nullptr) self->io().xClose(self->real());
    return rc;
  }
  if (database) {
    self->name = name;
    std::lock_guard<std::mutex> hold(g_databases_lock);
    self->next = g_databases;
    g_databases = self;
  } else {
    link_journal(self, name);
  }
  self->base.pMethods = &kMethods;
  return SQLITE_OK;
}

}  // namespace

int msdb_journal_vfs_register() {
  static const int status = [] {
    // The other methods stay the default layer's: they see only its own
    // data (pAppData), copied with them.
    static sqlite3_vfs gathering;
    g_default = sqlite3_vfs_find(nullptr);
    if (g_default == nullptr) return SQLITE_ERROR;
    gathering = *g_default;
    gathering.pNext = nullptr;
    gathering.zName = "msdb-journal";
    gathering.szOsFile = static_cast<int>(sizeof(File)) + g_default->szOsFile;
    gathering.xOpen = open_file;
    return sqlite3_vfs_register(&gathering, 1);
  }();
  return status;
}
