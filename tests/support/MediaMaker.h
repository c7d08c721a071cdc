// Media made at test time with the ffmpeg and ImageMagick programs, for any
// suite that needs real files (tags, probes, thumbnails, scans).
#pragma once

#include <string>

// Runs ffmpeg quietly with args (sources and encoders), writing out; returns
// the path of out inside folder, or "" when ffmpeg failed.
std::string make_media(const std::string &folder, const std::string &out, const std::string &args);

// Runs ImageMagick's convert with args, writing out inside folder; returns the
// path, or "" when convert failed.
std::string make_image(const std::string &folder, const std::string &out, const std::string &args);

// Copies a file; false when it cannot be read or written.
bool copy_file(const std::string &from, const std::string &to);
