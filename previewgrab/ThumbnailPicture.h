// ThumbnailPicture: pictures through MagickCore: an encoded picture (a photo
// or an embedded cover) decoded, turned upright by its EXIF orientation and
// fitted; and a bitmap encoded as JPEG.
//
// Memory stays bounded: the header is read first and a picture of more than
// THUMB_MAX_PIXELS is refused before it is decoded; JPEGs are decoded at the
// smallest scale that still covers the requested size. Only the common
// raster formats are decoded. Stateless; logs on "WinThumbnailExtractor".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ThumbnailBitmap.h"

// THUMB_OK, THUMB_E_NO_PICTURE (not a picture in an accepted format, or
// undecodable) or THUMB_E_OUT_OF_MEMORY (beyond the pixel limit).
std::uint32_t picture_bitmap(const void *data, std::size_t length, int size, ThumbnailBitmap *bitmap);

enum JpegResult : int {
  JPEG_OK = 0,
  JPEG_NO_ENCODER,  // after ERROR "couldn't find jpeg encoder"
  JPEG_FAILED,      // MagickCore's reason logged
};

// The JPEG file content of bitmap.
JpegResult picture_encode_jpeg(const ThumbnailBitmap &bitmap, std::string *jpeg);
