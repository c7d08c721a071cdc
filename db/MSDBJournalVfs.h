// MSDBJournalVfs: the file layer SQLite's connections write through, in
// front of the system's default one, that gathers the writes to a rollback
// journal.
//
// SQLite journals each page a transaction changes in three writes (the
// page's number, its old contents, a checksum). A scan's commit of a hundred
// items changes hundreds of pages, and those calls made two thirds of a
// first scan's pwrite calls. Here a journal's writes wait in one run in
// memory, bounded, and reach the file in one call before anything that
// needs them there: any write, truncate or sync of the database file or
// change of its lock, and any read, size, sync, truncate or close of the
// journal. So at every system call the journal on file holds the old
// contents of every page the database file has changed, and a process
// killed at any moment leaves a journal SQLite rolls back. A failed write
// of the run is reported by the call that needed it, and the run dropped:
// no page it covers has reached the database file.
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
