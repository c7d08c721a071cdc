// WinThumbnailExtractor: the thumbnail of one file written as a JPEG file,
// as the desktop would show it: a frame of a video, a photo scaled and
// turned upright, the cover of a track. Each call works in a child pool of
// the caller's and writes its output by one atomic replacement, so a failure
// leaves no new or half-written file. Calls may run on several threads at
// once (each has its own decoder, scaler and MagickCore records; the
// libraries load once under a lock), never two on one output. Logs on
// "WinThumbnailExtractor".
#pragma once

#include <apr_pools.h>

// Names as the extraction uses them: the source's folder (ending with '/')
// and item, and the output path. Only '/' separates folders: on Linux '\'
// is an ordinary character of a name ("AC\DC/cover.jpg" is in "AC\DC").
struct ThumbnailNames {
  const char *folder;
  const char *item;
  const char *output;
};

// Names longer than this many UTF-16 units (NUL included) are refused.
inline constexpr int THUMB_NAME_UNITS = 2048;

// Splits source into folder and item (an empty folder is the current one).
// Returns 0, or 20014 after ERROR "could not convert %s to ucs2" (with the
// source, or the output) for text that is not UTF-8 or does not fit.
int thumbnail_prepare_names(apr_pool_t *pool, const char *source, const char *output, ThumbnailNames *names);

// Writes the thumbnail of source, fitted into size x size keeping its aspect
// ratio, as the JPEG file output. Returns 0, or 20014 after ERROR "could not
// extract thumbnail, error %X" with the code (ThumbnailBitmap.h):
//   80070002 the source does not exist
//   80004002 the source is a folder, or not a video, image or audio file
//   80070057 size outside 1..4096
//   8004B200 the file holds no picture (a track without cover or album art
//            beside it), or it cannot be decoded (a damaged file)
//   8007000E a picture of more than 50,000,000 pixels
// or after "couldn't find jpeg encoder" or "couldn't save thumbnail, status
// %d" (1: the JPEG could not be encoded, 7: the file could not be written).
int thumbnail_extract(apr_pool_t *pool, const char *source, const char *output, int size);
