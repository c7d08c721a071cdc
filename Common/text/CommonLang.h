// CommonLang: the languages recognised in media (ISO 639-2 with the ISO 639-1
// two-letter codes) and the current user-interface language.
//
// The table is constant and shared by all threads without a lock. The current
// language index is written at start-up and read by any thread under a
// read-write lock that lang_init creates in the pool it is given; before
// lang_init (or once that pool is gone) the index is read without the lock.
#pragma once

#include <apr_pools.h>

struct LanguageEntry {
  // ISO 639-2 code; a language with two codes has a "xxx (B)" and a "yyy (T)" row.
  const char *code;
  const char *two_letter;  // ISO 639-1 code or null (only on "(B)" rows of pairs)
  const char *name;        // English name; alternatives separated by "; "
  const char *charset;     // single-byte character set or null
};

inline constexpr int LANGUAGE_COUNT = 511;
extern const LanguageEntry LANGUAGE_TABLE[LANGUAGE_COUNT];

// The user-interface language names; lang_set_current takes an index here.
inline constexpr const char *LANG_UI_NAMES[] = {"english"};
inline constexpr int LANG_UI_COUNT = 1;

// Creates the lock in pool. Returns 0, or 20014 after logging "Could no create
// mutex" (ERROR).
int lang_init(apr_pool_t *pool);
// Destroys the lock; later calls run unguarded (single-threaded teardown).
void lang_term();

// Writes / reads the current user-interface language index (0 by default).
void lang_set_current(int index);
int lang_current();

// The entry of the language named in text: the first entry, in table order,
// whose English name or three-letter code occurs in it as a whole word
// (ignoring case); failing that, the last entry whose two-letter code does.
// Null when none (also for a null text).
const LanguageEntry *lang_find_in_text(const char *text);

// lang_find_in_text over the current user-interface language's name.
const LanguageEntry *lang_current_entry();
