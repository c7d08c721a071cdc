/* sqlite-count.c: an LD_PRELOAD library that counts the SQLite statements a
 * process compiles, the steps it runs and the virtual machine operations
 * those ran (read as each statement is reset or finalized: a measure of the
 * rows walked inside SQLite that the machine's load does not change), and
 * appends "prepared N steps M vm V" to the file named by SQLITE_COUNT_OUT
 * when the process exits. scan.sh uses it to report statements per scanned
 * item. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

typedef struct sqlite3 sqlite3;
typedef struct sqlite3_stmt sqlite3_stmt;

static unsigned long prepared, steps, vm;

typedef int (*prepare_fn)(sqlite3 *, const char *, int, sqlite3_stmt **, const char **);
typedef int (*prepare3_fn)(sqlite3 *, const char *, int, unsigned int, sqlite3_stmt **, const char **);
typedef int (*step_fn)(sqlite3_stmt *);
typedef int (*status_fn)(sqlite3_stmt *, int, int);

enum { kVmStep = 4 }; /* SQLITE_STMTSTATUS_VM_STEP */

/* The operations stmt ran since it was last read, its counter cleared. */
static void add_vm(sqlite3_stmt *stmt) {
  static status_fn status;
  if (status == NULL) status = (status_fn)dlsym(RTLD_NEXT, "sqlite3_stmt_status");
  if (stmt == NULL || status == NULL) return;
  __atomic_add_fetch(&vm, (unsigned long)status(stmt, kVmStep, 1), __ATOMIC_RELAXED);
}

int sqlite3_prepare_v2(sqlite3 *db, const char *sql, int bytes, sqlite3_stmt **stmt, const char **tail) {
  static prepare_fn real;
  if (real == NULL) real = (prepare_fn)dlsym(RTLD_NEXT, "sqlite3_prepare_v2");
  __atomic_add_fetch(&prepared, 1, __ATOMIC_RELAXED);
  return real(db, sql, bytes, stmt, tail);
}

int sqlite3_prepare(sqlite3 *db, const char *sql, int bytes, sqlite3_stmt **stmt, const char **tail) {
  static prepare_fn real;
  if (real == NULL) real = (prepare_fn)dlsym(RTLD_NEXT, "sqlite3_prepare");
  __atomic_add_fetch(&prepared, 1, __ATOMIC_RELAXED);
  return real(db, sql, bytes, stmt, tail);
}

int sqlite3_prepare_v3(sqlite3 *db, const char *sql, int bytes, unsigned int flags, sqlite3_stmt **stmt,
                       const char **tail) {
  static prepare3_fn real;
  if (real == NULL) real = (prepare3_fn)dlsym(RTLD_NEXT, "sqlite3_prepare_v3");
  __atomic_add_fetch(&prepared, 1, __ATOMIC_RELAXED);
  return real(db, sql, bytes, flags, stmt, tail);
}

int sqlite3_step(sqlite3_stmt *stmt) {
  static step_fn real;
  if (real == NULL) real = (step_fn)dlsym(RTLD_NEXT, "sqlite3_step");
  __atomic_add_fetch(&steps, 1, __ATOMIC_RELAXED);
  return real(stmt);
}

int sqlite3_reset(sqlite3_stmt *stmt) {
  static step_fn real;
  if (real == NULL) real = (step_fn)dlsym(RTLD_NEXT, "sqlite3_reset");
  add_vm(stmt);
  return real(stmt);
}

int sqlite3_finalize(sqlite3_stmt *stmt) {
  static step_fn real;
  if (real == NULL) real = (step_fn)dlsym(RTLD_NEXT, "sqlite3_finalize");
  add_vm(stmt);
  return real(stmt);
}

__attribute__((destructor)) static void report(void) {
  const char *path = getenv("SQLITE_COUNT_OUT");
  FILE *out = path != NULL ? fopen(path, "a") : NULL;
  if (out == NULL) return;
  fprintf(out, "prepared %lu steps %lu vm %lu\n", prepared, steps, vm);
  fclose(out);
}
