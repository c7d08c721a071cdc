// CommonText: trimming, case and joining of plain C strings.
//
// Trimming works in place on writable text unless the helper takes a pool;
// the trimming set is " \t\n\r\f". Copies live in the caller's pool. All
// helpers are stateless and re-entrant.
#pragma once

#include <apr_pools.h>

#include <cstddef>

// Cuts trailing " \t\n\r\f" in place; returns text (null stays null).
char *str_rtrim(char *text);
// Pointer past leading " \t\n\r\f" (null stays null).
char *str_skip_space(char *text);
const char *str_skip_space(const char *text);
// Both ends: cuts the tail in place and returns the pointer past the head.
char *str_trim(char *text);
// Copy of text without any of " \t\n\r\f"; null for a null text.
char *str_remove_space(apr_pool_t *pool, const char *text);
// Skips leading and cuts trailing characters of "'\" \t\n\r\f" in place;
// returns the pointer past the head (null stays null).
char *str_trim_quotes(char *text);

// Upper-cases the first letter of each word and lower-cases the others,
// unless text holds a byte >= 0x80 (then it is left as it is). With a pool
// the result is a copy, else text is changed in place and returned.
// Non-letters other than '&' keep a word start pending ("(the x)" gives
// "(The X)", "1st" gives "1St"); '&' ends it so entities stay lower case.
char *str_title_case(apr_pool_t *pool, char *text);
// Lower-cased copy; null for null.
char *str_lower(apr_pool_t *pool, const char *text);
// The non-empty (non-null) texts joined with ","; null when there are none.
char *str_join(apr_pool_t *pool, const char *const *texts, int count);
// strcmp and strcasecmp that accept null; null orders before any text.
int str_compare(const char *a, const char *b);
int str_icompare(const char *a, const char *b);
// The name up to its last '.' (dots just before it removed too), or a copy of
// name when its last component has no '.'; null for null.
char *path_strip_extension(apr_pool_t *pool, const char *name);
// First place where pattern occurs, ignoring case, wholly inside the first
// length bytes of text (a NUL ends text earlier); null when none.
const char *str_find_n(const char *text, const char *pattern, std::size_t length);
