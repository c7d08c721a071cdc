// CommonNumbers: numbers and booleans read from configuration and database
// text, and their text forms.
//
// The parse_* helpers return 1 on success and 0 on failure and write the
// result only on success; a null text fails. Leading whitespace is accepted
// as strtol accepts it; after the number only " \t\r\n" may follow.
// Stateless and re-entrant; formatted texts live in the caller's pool.
#pragma once

#include <apr_pools.h>

#include <string_view>

// Decimal integer that fits unsigned int; a negative value fails.
int parse_uint(const char *text, unsigned int *out);
// Decimal integer that fits int.
int parse_int(const char *text, int *out);
// 64-bit decimal integer.
int parse_int64(const char *text, apr_int64_t *out);
// Floating-point number as strtod reads it.
int parse_double(const char *text, double *out);
// "first - last": two 64-bit integers around a dash, optional " \t\r\n"
// before the dash; both ends are written together.
int parse_int64_range(const char *text, apr_int64_t *first, apr_int64_t *last);
// "true", "yes" (any case) or "1" give 1; "false", "no" (any case) or "0"
// give 0; anything else (a trailing space included) fails.
int parse_bool(const char *text, int *out);

// "true" for a non-zero value, else "false".
const char *bool_name(int value);

// "%u", "%d" and 64-bit decimal forms in pool.
char *str_from_uint(apr_pool_t *pool, unsigned int value);
char *str_from_int(apr_pool_t *pool, int value);
char *str_from_int64(apr_pool_t *pool, apr_int64_t value);

// The decimal form of value written into digits, for a text the caller builds
// in a buffer of its own without a pool block per number.
using DecimalDigits = char[24];
std::string_view decimal_digits(apr_int64_t value, DecimalDigits &digits);
