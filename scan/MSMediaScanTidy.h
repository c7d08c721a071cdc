// MSMediaScanTidy: the readability tidy-up that the prettyTags setting
// applies to tag texts and titles. Pure text; any thread; the result lives
// in the pool passed.
#pragma once

#include <apr_pools.h>

// The tidied form of a tag text (quotes wrapping the whole text and blanks
// trimmed, words capitalised), a copy in pool.
const char *msms_tidy(apr_pool_t *pool, const char *text);
