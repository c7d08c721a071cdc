// CommonSortKey: the key by which titles are ordered in the library.
//
// Leading punctuation is skipped, a leading number is zero-padded to 12
// digits so numbers sort by value, the text is lower-cased and one leading
// article dropped. Keys live in the caller's pool; re-entrant.
#pragma once

#include <apr_pools.h>

// The key of text; ascending 0 gives the descending key (every byte
// inverted). A null or empty text gives common_empty_string. A leading run of
// 12 or more digits is left as it is, after WARN "Zero padding of sorting
// keys failed - sequence of digits is too long".
const char *sort_key(apr_pool_t *pool, const char *text, int ascending);
