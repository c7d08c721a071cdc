// MSDBJournalVfs: the file layer SQLite's connections write through, in
// front of the system's default one, that gathers the writes to a database
// and its rollback journal.
//
// SQLite journals each page a transaction changes in three writes (the page's
// number, its old contents, a checksum), then writes the changed pages to the
// database in their order in the file, a call each. A scan's commit of a
// hundred items changes hundreds of pages, half of them next to another. Here,
// while a database's journal is open, the connection's writes wait in one run
// in memory, bounded, as long as each continues the last in the same file; the
// run reaches the file in one call before anything else: a write elsewhere or
// to the other file, and any truncate, sync, size, lock change, file control
// or close of either file, and a read of the file it is for. So the calls
// reach the files in the order SQLite made them, only fewer: the journal on
// file holds the old contents of every page the database file has changed, and
// a process killed at any moment leaves a journal SQLite rolls back. A failed
// write of the run is reported by the call that needed it, and the run dropped
// (see flush).
//
// Every other file (temporary files, write-ahead logs) goes to the default
// layer untouched. A database and its journal belong to one connection and
// its thread; the list of open databases a journal is matched against is
// process-wide, under a mutex.
#pragma once

// Makes the gathering layer SQLite's default for connections opened from
// now on; once per process, later calls return the first one's status.
// Call after sqlite3_config. Returns SQLITE_OK, SQLITE_ERROR when SQLite
// has no default layer, or sqlite3_vfs_register's error.
int msdb_journal_vfs_register();
