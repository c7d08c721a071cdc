// The demuxers that a file's first bytes name without doubt.
//
// Detection by content runs every demuxer's probe over the start of a file:
// some four hundred functions spread over libavformat and libavcodec, about
// 3 MiB of their pages made resident in each process that detects even one
// file. For the formats below the library's own probe answers with its
// highest score and no other demuxer claims them, so the demuxer is named
// directly. Constant data; thread-safe.
#include <algorithm>
#include <cstring>

#include "MSFFMPEG.h"
#include "MSFFMPEGLibrary.h"

namespace {

struct Magic {
  int offset;
  const char *bytes;
  const char *demuxer;  // null: detect by content
};

// The first entry that matches decides. JPEG 2000 and JPEG XL files have an
// "ftyp" box too, and are images.
constexpr Magic kMagic[] = {
    {0, "fLaC", "flac"},        {0, "OggS", "ogg"},         {4, "ftypjp2 ", nullptr},
    {4, "ftypjpx ", nullptr},   {4, "ftypjxl ", nullptr},   {4, "ftyp", "mov"},
};

}  // namespace

const char *ffmpeg_demuxer_by_magic(const unsigned char *head, int size) {
  for (const Magic &magic : kMagic) {
    const int length = static_cast<int>(std::strlen(magic.bytes));
    if (magic.offset + length <= size && std::memcmp(head + magic.offset, magic.bytes, length) == 0) {
      return magic.demuxer;
    }
  }
  return nullptr;
}
