// CommonTime: time and duration texts (APR times in microseconds).
//
// Results live in the caller's pool. Re-entrant.
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

// "%a, %d %b %Y %H:%M:%S GMT"; null for a negative time.
char *time_rfc822(apr_pool_t *pool, apr_time_t time);
// "YYYY-MM-DDTHH:MM:SS" (zero-padded) from a broken-down time.
char *time_iso8601(apr_pool_t *pool, const apr_time_exp_t *time);
// "%Y-%m-%d" in local time of an RFC 822 date; null when it does not parse.
char *time_date_only(apr_pool_t *pool, const char *rfc822);
// The UTC instant of "YYYY-MM-DD[THH:MM:SS[.f][Z|+hh:mm|-hh:mm]]"; a date
// alone is midnight UTC; -1 for anything malformed, a field out of its range
// included (year 0..9999, day 1..31, zone up to 23:59).
apr_time_t time_iso8601_parse(const char *text);
// "HH:MM:SS.000".
char *duration_format(apr_pool_t *pool, int seconds);
// A text with ':' unchanged, a non-negative number of seconds through
// duration_format; null after ERROR "Invalid duration string %s".
const char *duration_normalize(apr_pool_t *pool, const char *text);
