// ThumbnailBitmap: what every extractor hands to the JPEG writer, an RGB
// picture already fitted to the requested size, and the codes with which
// extraction fails (HRESULTs, as the shell would report them).
#pragma once

#include <cstdint>
#include <vector>

struct ThumbnailBitmap {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;  // width * height * 3 bytes, rows top down
};

inline constexpr std::uint32_t THUMB_OK = 0;
inline constexpr std::uint32_t THUMB_E_NOT_FOUND = 0x80070002;     // no such file
inline constexpr std::uint32_t THUMB_E_OUT_OF_MEMORY = 0x8007000E;  // picture beyond the pixel limit
inline constexpr std::uint32_t THUMB_E_INVALID_SIZE = 0x80070057;  // size outside 1..THUMB_MAX_SIZE
inline constexpr std::uint32_t THUMB_E_NO_EXTRACTOR = 0x80004002;  // a folder, or not a media file
inline constexpr std::uint32_t THUMB_E_NO_PICTURE = 0x8004B200;    // holds no picture, or undecodable

inline constexpr int THUMB_MAX_SIZE = 4096;
// Pictures are decoded whole before scaling: larger ones are refused.
inline constexpr long long THUMB_MAX_PIXELS = 50'000'000;

struct ThumbnailFit {
  int width;
  int height;
};

// width x height scaled, up or down, to fit size x size keeping the aspect
// ratio (the longer side becomes size, the shorter at least 1).
inline ThumbnailFit thumbnail_fit(long long width, long long height, int size) {
  if (width >= height) {
    long long h = (height * size + width / 2) / width;
    return {size, static_cast<int>(h < 1 ? 1 : h)};
  }
  long long w = (width * size + height / 2) / height;
  return {static_cast<int>(w < 1 ? 1 : w), size};
}
