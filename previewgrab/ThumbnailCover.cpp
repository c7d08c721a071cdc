#include "ThumbnailCover.h"

#include <apr_file_info.h>
#include <apr_strings.h>
#include <strings.h>

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include "CommonAlbumArt.h"
#include "CommonPath.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "WinThumbnailExtractor";

// The preference rank of an album-art file name (any case): each fixed name's
// large picture, then its small companion; twice the number of names for any other.
std::size_t album_art_rank(const char *name) {
  std::size_t rank = 0;
  for (const AlbumArtNames &names : ALBUM_ART_FIXED_NAMES) {
    if (strcasecmp(name, names.large) == 0) return rank;
    if (names.small != nullptr && strcasecmp(name, names.small) == 0) return rank + 1;
    rank += 2;
  }
  return rank;
}

bool take(const TagLib::ByteVector &data, std::string *picture) {
  if (data.isEmpty()) return false;
  picture->assign(data.data(), data.size());
  return true;
}

// The front cover among pictures of any kind of list, else the first.
template <typename List, typename TypeOf, typename DataOf>
bool pick(const List &pictures, TypeOf type_of, DataOf data_of, int front, std::string *picture) {
  for (const auto &item : pictures) {
    if (type_of(item) == front && take(data_of(item), picture)) return true;
  }
  for (const auto &item : pictures) {
    if (take(data_of(item), picture)) return true;
  }
  return false;
}

// FLAC picture blocks, native or carried in a Xiph comment.
bool from_flac_pictures(const TagLib::List<TagLib::FLAC::Picture *> &pictures, std::string *picture) {
  return pick(
      pictures, [](const TagLib::FLAC::Picture *p) { return static_cast<int>(p->type()); },
      [](const TagLib::FLAC::Picture *p) { return p->data(); }, TagLib::FLAC::Picture::FrontCover, picture);
}

bool from_xiph(TagLib::Ogg::XiphComment *comment, std::string *picture) {
  return comment != nullptr && from_flac_pictures(comment->pictureList(), picture);
}

bool from_id3v2(TagLib::ID3v2::Tag *tag, std::string *picture) {
  if (tag == nullptr) return false;
  return pick(
      tag->frameList("APIC"),
      [](TagLib::ID3v2::Frame *f) {
        auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(f);
        return apic != nullptr ? static_cast<int>(apic->type()) : -1;
      },
      [](TagLib::ID3v2::Frame *f) {
        auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(f);
        return apic != nullptr ? apic->picture() : TagLib::ByteVector();
      },
      TagLib::ID3v2::AttachedPictureFrame::FrontCover, picture);
}

bool from_mp4(TagLib::MP4::File *file, std::string *picture) {
  if (file->tag() == nullptr || !file->tag()->contains("covr")) return false;
  for (const auto &art : file->tag()->item("covr").toCoverArtList()) {
    if (take(art.data(), picture)) return true;
  }
  return false;
}

bool from_asf(TagLib::ASF::File *file, std::string *picture) {
  if (file->tag() == nullptr || !file->tag()->contains("WM/Picture")) return false;
  return pick(
      file->tag()->attribute("WM/Picture"),
      [](const TagLib::ASF::Attribute &a) { return static_cast<int>(a.toPicture().type()); },
      [](const TagLib::ASF::Attribute &a) { return a.toPicture().picture(); }, TagLib::ASF::Picture::FrontCover,
      picture);
}

bool from_file(TagLib::File *file, std::string *picture) {
  if (auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(file)) return from_id3v2(mpeg->ID3v2Tag(), picture);
  if (auto *mp4 = dynamic_cast<TagLib::MP4::File *>(file)) return from_mp4(mp4, picture);
  if (auto *asf = dynamic_cast<TagLib::ASF::File *>(file)) return from_asf(asf, picture);
  if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file)) {
    return from_flac_pictures(flac->pictureList(), picture) || from_xiph(flac->xiphComment(), picture) ||
           from_id3v2(flac->ID3v2Tag(), picture);
  }
  if (auto *vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File *>(file)) return from_xiph(vorbis->tag(), picture);
  if (auto *opus = dynamic_cast<TagLib::Ogg::Opus::File *>(file)) return from_xiph(opus->tag(), picture);
  return false;
}

}  // namespace

bool cover_embedded(const char *path, std::string *picture) {
  try {
    TagLib::FileRef ref(path, false);
    return !ref.isNull() && from_file(ref.file(), picture);
  } catch (...) {
    LOG4C(kModule, LOG4C_ERROR, "Exception thrown via taglib");
    return false;
  }
}

const char *cover_beside(apr_pool_t *pool, const char *path) {
  const char *folder = path_dirname(pool, path);
  apr_dir_t *dir = nullptr;
  if (apr_dir_open(&dir, *folder != '\0' ? folder : ".", pool) != APR_SUCCESS) return nullptr;
  std::size_t best = album_art_rank("");
  const char *found = nullptr;
  apr_finfo_t entry;
  while (best > 0 && apr_dir_read(&entry, APR_FINFO_NAME, dir) == APR_SUCCESS) {
    const std::size_t rank = album_art_rank(entry.name);
    if (rank < best) {
      best = rank;
      found = apr_pstrcat(pool, folder, entry.name, nullptr);
    }
  }
  apr_dir_close(dir);
  return found;
}
