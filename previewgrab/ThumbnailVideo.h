// ThumbnailVideo: a frame of a video, as a person would pick it: from about
// a tenth of the running time, past the black or title frames that often
// open a film, scaled to fit the requested size with the stream's pixel
// aspect ratio applied.
//
// The file is read through the probes' own reader (MSFFMPEG), one packet at
// a time; decoding stops after a bounded number of packets. Stateless; logs
// on "WinThumbnailExtractor" (ffmpeg's own messages go to "MSFFMPEG").
#pragma once

#include <cstdint>

#include "ThumbnailBitmap.h"

// THUMB_OK, or THUMB_E_NO_PICTURE when the file has no video stream (WARN:
// an Ogg or ASF file may hold audio only) or no frame of it can be decoded
// (ERROR).
std::uint32_t video_bitmap(const char *path, int size, ThumbnailBitmap *bitmap);
