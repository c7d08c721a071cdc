// Common: start-up of the common state, unique ids, digests, Base64 and
// case-insensitive table look-ups.
//
// common_init creates the one process-wide object of this library, the
// unique-id mutex; everything else is stateless and re-entrant. Texts handed
// back live in the caller's pool. Logs on the "Common" logger.
// The other helpers of the library are declared in CommonNumbers.h,
// CommonText.h, CommonEscape.h, CommonSortKey.h, CommonUtf8.h, CommonPath.h,
// CommonFiles.h, CommonTextFile.h, CommonProcess.h, CommonTime.h, CommonHttp.h.
#pragma once

#include <apr_pools.h>

#include <cstddef>

// Logger name of this library.
inline constexpr const char *COMMON_MODULE = "Common";

// The shared empty string some helpers give when they cannot produce text.
// Never written to; compare texts, not pointers.
extern const char common_empty_string[1];

// Creates the unique-id mutex (once) and, when iconv_path is not null, sets
// APR_ICONV_PATH to it; seeds rand() with the time in seconds.
// Returns 0, or 20014 after ERROR "Could no create unique id mutex" or
// "Could not set the APR_ICONV_PATH environment variable to %s".
// The mutex lives in pool, which must outlive common_terminate.
int common_init(apr_pool_t *pool, const char *iconv_path);

// Destroys the unique-id mutex (ERROR "Could not destroy unique_id_mutex" on
// failure) and forgets it, so common_init may run again.
void common_terminate();

// Returns the process-wide counter (1 on the first call) and increments it,
// under the unique-id mutex when common_init has created it.
unsigned int unique_id_next();

// Writes the MD5 of data as 32 upper-case hexadecimal digits and a NUL into
// out. Returns 0, or 20014 after ERROR "Could not calculate an MD5 digest"
// with out set to "".
int common_md5_hex(char out[33], const void *data, std::size_t length);

// text in standard Base64 with padding; null for a null text.
char *str_base64(apr_pool_t *pool, const char *text);

// Index of the first non-null entry of table[0..count) equal to text ignoring
// case, else def (also for a null text).
int str_index_of(const char *text, const char *const *table, int count, int def);

// As str_index_of, comparing only the first length characters of text with
// the first length characters of each entry.
int str_prefix_index_of(const char *text, std::size_t length, const char *const *table, int count,
                        int def);
