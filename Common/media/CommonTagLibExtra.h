// ExtraTagReader: the album artist and the Windows Media collection id, which
// TagLib's generic tag does not offer, read from the MPEG (ID3v2), MP4 and
// ASF tags. Used by tags_read only; may throw what TagLib throws.
#pragma once

#include <taglib/fileref.h>

#include <string>

class ExtraTagReader {
 public:
  // Reads both values from the reference's file, forgetting earlier ones.
  void read(const TagLib::FileRef &file);
  // UTF-8 album artist, "" when absent.
  const char *album_artist() const { return album_artist_.c_str(); }
  // 36-character GUID text, "" when absent.
  const char *collection_id() const { return collection_id_.c_str(); }

 private:
  void read_mpeg(TagLib::File *file);
  void read_mp4(TagLib::File *file);
  void read_asf(TagLib::File *file);

  std::string album_artist_;
  std::string collection_id_;
};

// The 16 bytes of a little-endian GUID as "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"
// (first three groups byte-reversed); "" when fewer than 16 bytes are given.
std::string guid_text(const unsigned char *bytes, std::size_t size);
