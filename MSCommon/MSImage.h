// MSImage: the pixel size and EXIF date of a photo, read from a JPEG's
// header (MSImageHeader) or else with MagickCore's ping (header and
// properties only, no pixel decoding).
//
// A JPEG's first 128 KiB usually suffice; otherwise a call reads the whole
// file (1 to 100,000,000 bytes) into a pool of its own and frees it before
// returning, so one call holds at most that much memory; no state is shared between calls, which may run on any thread.
// Logs on "MSImage" (the EXIF date parser on "Common").
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

#include <cstddef>
#include <cstdint>

// Named apart from MagickCore's own ImageInfo.
struct ImageInfoRecord {
  int present;  // 1 when the image was read
  int width;
  int height;
};

struct ExifTime {
  apr_time_t time;          // microseconds since 1970 (UTC), 0 when absent
  apr_time_exp_t exploded;  // all zero when absent
};

inline constexpr std::int64_t IMAGE_FILE_MAX_SIZE = 100000000;

// Reads the whole image file at path (a leading "file://" is removed) into a
// buffer allocated in pool. Returns 0, or 20014 after ERROR "Invalid image
// file size %I64d" (empty, missing or above IMAGE_FILE_MAX_SIZE), "Unable to
// open file (%s), reason: %s" or "Unable to read file (%s), reason: %s".
int image_file_load(const char *path, apr_pool_t *pool, std::size_t *length, char **buffer);

// Clears the outputs, then reads the size and EXIF date of the image at path
// (or "file://" URL) from its header where MSImageHeader can, else as
// image_info_ping does; the values and log lines are the same either way.
int image_info_read(const char *path, ImageInfoRecord *info, ExifTime *exif);

// Clears the outputs, then pings the image at path (or "file://" URL) with
// MagickCore for its size and EXIF date: "DateTimeOriginal", else "DateTime" (taken as UTC;
// WARN "wrong exif format" when it does not parse). A file holding several images reports the first and logs
// WARN "Image sequence encounterd, ignoring all except first...". Returns 0,
// or 20014 after ERROR "Could not read image %s".
int image_info_ping(const char *path, ImageInfoRecord *info, ExifTime *exif);

// Logs "ImageMagic Exception, Reason: %s, Description: %s" on "MSImage":
// severity 1-299 at DEBUG, 400 and above at ERROR, anything else at WARN.
void image_exception_log(int severity, const char *reason, const char *description);

// Parses an EXIF date "YYYY:MM:DD HH:MM:SS" (exactly 19 characters, any
// separators) as UTC. Returns 0 (outputs left zero when the date cannot be
// represented), or 20014 after ERROR "wrong exif date: %s" on "Common".
int exif_date_parse(const char *text, apr_time_t *time, apr_time_exp_t *exploded);
