// Media for the thumbnail tests, made once per suite, and a look at a
// written JPEG through ImageMagick's identify.
#pragma once

#include <string>

struct JpegFacts {
  bool valid = false;
  int width = 0;
  int height = 0;
  double mean = 0;  // mean brightness, 0..1
};

// The format, size and brightness of the picture at path; valid is false
// when it is not a JPEG.
JpegFacts read_jpeg(const std::string &path);

// A JPEG of width x height with an EXIF orientation tag of value orientation.
std::string make_oriented_jpeg(const std::string &folder, const std::string &name, int width, int height,
                               int orientation);

// A PNG whose header declares width x height and whose data is cut short.
std::string make_png_header(const std::string &folder, const std::string &name, unsigned width, unsigned height);
