// MSImageHeader: a photo's pixel size and EXIF dates read from the first
// bytes of a JPEG file, so that a scan of ordinary photos never loads
// MagickCore and the thirty libraries it brings.
//
// Answers only where MagickCore's ping gives the same values: a well-formed
// baseline, extended or progressive JPEG whose dates occur once each, in
// IFD0 or its Exif IFD. Anything else is left to MagickCore. Reads only the
// bytes passed, each length checked against them; no state, any thread.
#pragma once

#include <cstddef>

inline constexpr std::size_t IMAGE_HEADER_DATE_MAX = 64;

struct ImageHeader {
  int width = 0;
  int height = 0;
  // EXIF DateTimeOriginal and DateTime as MagickCore gives them (a byte that
  // is neither printable nor NUL becomes '.'); "" when absent.
  char taken[IMAGE_HEADER_DATE_MAX] = "";
  char edited[IMAGE_HEADER_DATE_MAX] = "";
};

// True when data, the first length bytes of a file, hold a JPEG header up to
// its first scan that MagickCore would read to the values put in header;
// false (header unspecified) when MagickCore has to be asked.
bool image_header_read(const unsigned char *data, std::size_t length, ImageHeader *header);
