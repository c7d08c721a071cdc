/* sqlite-count.c: an LD_PRELOAD library that counts the SQLite statements a
 * process compiles and the steps it runs, and appends "prepared N steps M" to
 * the file named by SQLITE_COUNT_OUT when the process exits. scan.sh uses it
 * to report statements per scanned item. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

typedef struct sqlite3 sqlite3;
typedef struct sqlite3_stmt sqlite3_stmt;

static unsigned long prepared, steps;

typedef int (*prepare_fn)(sqlite3 *, const char *, int, sqlite3_stmt **, const char **);
typedef int (*prepare3_fn)(sqlite3 *, const char *, int, unsigned int, sqlite3_stmt **, const char **);
typedef int (*step_fn)(sqlite3_stmt *);

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

__attribute__((destructor)) static void report(void) {
  const char *path = getenv("SQLITE_COUNT_OUT");
  FILE *out = path != NULL ? fopen(path, "a") : NULL;
  if (out == NULL) return;
  fprintf(out, "prepared %lu steps %lu\n", prepared, steps);
  fclose(out);
}
