// The classification of a walked file.
#include "MSMediaScanClassify.h"

#include <apr_strings.h>
#include <strings.h>

#include "CommonNumbers.h"
#include "CommonPath.h"
#include "MSMediaScanAlbumArt.h"

namespace {

bool is_scanned_class(int media_class) {
  return media_class == MEDIA_VIDEO || media_class == MEDIA_AUDIO || media_class == MEDIA_AUDIO_OR_VIDEO ||
         media_class == MEDIA_IMAGE || media_class == MEDIA_METAFILE;
}

bool wants_class(const ScanContext *scan, int media_class) {
  switch (media_class) {
    case MEDIA_VIDEO: return scan->lookfor_video != 0;
    case MEDIA_AUDIO: return scan->lookfor_audio != 0;
    case MEDIA_AUDIO_OR_VIDEO: return scan->lookfor_audio != 0 || scan->lookfor_video != 0;
    case MEDIA_IMAGE: return scan->lookfor_photo != 0;
    default: return true;
  }
}

// Album art matters to a scan that files photos without it, or gives art to tracks.
bool is_album_art(const ScanContext *scan, const MediaTypeEntry *type, const char *name) {
  return type->media_class == MEDIA_IMAGE &&
         ((scan->lookfor_photo && !scan->allow_album_art_as_photo) || scan->handle_album_art) &&
         msms_is_album_art(name);
}

FileSkip skip_by_name(const ScanFile *file, const char *extension, const MediaTypeEntry **type) {
  *type = nullptr;
  if (extension == nullptr || extension[0] == '\0') return FileSkip::no_extension;
  if (file->size <= 0) return FileSkip::empty;
  if (strcasecmp(extension, "srt") == 0) return FileSkip::subtitle;
  *type = media_type_by_extension(extension, -1);
  if (!is_scanned_class((*type)->media_class)) return FileSkip::unknown_format;
  return (*type)->media_class == MEDIA_METAFILE ? FileSkip::playlist : FileSkip::none;
}

}  // namespace

bool msms_is_playlist_name(const char *name) {
  const char *extension = path_extension(name, 0);
  return extension != nullptr && media_type_by_extension(extension, -1)->media_class == MEDIA_METAFILE;
}

bool msms_scan_wants(const ScanContext *scan, int media_class, bool album_art) {
  if (!wants_class(scan, media_class)) return false;
  return !(media_class == MEDIA_IMAGE && album_art && !scan->allow_album_art_as_photo);
}

ClassifiedFile msms_classify_file(apr_pool_t *pool, const ScanContext *scan, const FolderScan *folder,
                                  const ScanFile *file) {
  ClassifiedFile classified{};
  classified.extension = path_extension(file->name, 0);
  classified.skip = skip_by_name(file, classified.extension, &classified.type);
  if (classified.type == nullptr) return classified;
  classified.album_art = is_album_art(scan, classified.type, file->name);
  classified.wanted = msms_scan_wants(scan, classified.type->media_class, classified.album_art);
  classified.relative = folder->relative[0] != '\0' ? folder->relative : "/";
  classified.path =
      path_canonical(pool, apr_pstrcat(pool, scan->root, "/", folder->relative, "/", file->name, nullptr));
  classified.url = apr_pstrcat(pool, "file://", classified.path, nullptr);
  classified.signature = str_from_int64(pool, static_cast<apr_int64_t>(file->mtime));
  return classified;
}

InspectRequest msms_inspect_request(const ScanContext *scan, const ClassifiedFile &file) {
  return InspectRequest{file.path, file.extension, file.type->media_class, scan->read_avi_tags != 0};
}
