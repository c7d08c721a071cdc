// ExtraTagReader: per-format reading of the album artist and collection id.
#include "CommonTagLibExtra.h"

#include <taglib/asffile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/privateframe.h>

#include <cstdio>

namespace {

constexpr const char *kCollectionIdOwner = "WM/WMCollectionID";
constexpr std::size_t kGuidSize = 16;

std::string guid_of(const TagLib::ByteVector &data) {
  return guid_text(reinterpret_cast<const unsigned char *>(data.data()), data.size());
}

}  // namespace

std::string guid_text(const unsigned char *b, std::size_t size) {
  if (size < kGuidSize) return {};
  char text[40];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[3], b[2],
                b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

void ExtraTagReader::read(const TagLib::FileRef &file) {
  album_artist_.clear();
  collection_id_.clear();
  TagLib::File *f = file.file();
  if (dynamic_cast<TagLib::MPEG::File *>(f)) {
    read_mpeg(f);
  } else if (dynamic_cast<TagLib::MP4::File *>(f)) {
    read_mp4(f);
  } else if (dynamic_cast<TagLib::ASF::File *>(f)) {
    read_asf(f);
  }
}

void ExtraTagReader::read_mpeg(TagLib::File *file) {
  const TagLib::ID3v2::Tag *tag = static_cast<TagLib::MPEG::File *>(file)->ID3v2Tag(false);
  if (!tag) return;
  const TagLib::ID3v2::FrameList &album_artists = tag->frameList("TPE2");
  if (!album_artists.isEmpty()) album_artist_ = album_artists.front()->toString().to8Bit(true);
  // Windows Media Player may leave several; the last one is current.
  for (const TagLib::ID3v2::Frame *frame : tag->frameList("PRIV")) {
    auto *priv = dynamic_cast<const TagLib::ID3v2::PrivateFrame *>(frame);
    if (priv && priv->owner() == kCollectionIdOwner) collection_id_ = guid_of(priv->data());
  }
}

void ExtraTagReader::read_mp4(TagLib::File *file) {
  const TagLib::MP4::Tag *tag = static_cast<TagLib::MP4::File *>(file)->tag();
  if (!tag || !tag->contains("aART")) return;
  album_artist_ = tag->item("aART").toStringList().toString(" ").to8Bit(true);
}

void ExtraTagReader::read_asf(TagLib::File *file) {
  const TagLib::ASF::Tag *tag = static_cast<TagLib::ASF::File *>(file)->tag();
  if (!tag) return;
  const TagLib::ASF::AttributeListMap &attributes = tag->attributeListMap();
  auto album_artist = attributes.find("WM/AlbumArtist");
  if (album_artist != attributes.end() && !album_artist->second.isEmpty()) {
    album_artist_ = album_artist->second.front().toString().to8Bit(true);
  }
  auto collection = attributes.find(kCollectionIdOwner);
  if (collection != attributes.end() && !collection->second.isEmpty()) {
    collection_id_ = guid_of(collection->second.front().toByteVector());
  }
}
