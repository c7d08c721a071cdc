#include "WinThumbnailExtractor.h"

#include <apr_file_info.h>
#include <apr_strings.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "CommonMultimedia.h"
#include "CommonPath.h"
#include "CommonUtf8.h"
#include "MSImage.h"
#include "PlatformFileReplace.h"
#include "ThumbnailCover.h"
#include "ThumbnailPicture.h"
#include "ThumbnailVideo.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "WinThumbnailExtractor";
constexpr int kFailure = 20014;
// The save statuses of the Windows image encoder this replaces.
constexpr int kSaveEncodeFailed = 1;
constexpr int kSaveWriteFailed = 7;

// True when text converts to UTF-16 within the name buffer.
bool fits_utf16(const char *text) {
  char16_t *wide = utf8_to_utf16(text);
  if (wide == nullptr) return false;
  std::size_t units = std::char_traits<char16_t>::length(wide);
  std::free(wide);
  return units < static_cast<std::size_t>(THUMB_NAME_UNITS);
}

std::uint32_t picture_file_bitmap(apr_pool_t *pool, const char *path, int size, ThumbnailBitmap *bitmap) {
  std::size_t length = 0;
  char *data = nullptr;
  if (image_file_load(path, pool, &length, &data) != 0) return THUMB_E_NO_PICTURE;
  return picture_bitmap(data, length, size, bitmap);
}

std::uint32_t audio_bitmap(apr_pool_t *pool, const char *path, int size, ThumbnailBitmap *bitmap) {
  std::string picture;
  if (cover_embedded(path, &picture)) return picture_bitmap(picture.data(), picture.size(), size, bitmap);
  const char *art = cover_beside(pool, path);
  if (art != nullptr) return picture_file_bitmap(pool, art, size, bitmap);
  LOG4C(kModule, LOG4C_INFO, log4c_sprintf("%s has no cover picture", path));
  return THUMB_E_NO_PICTURE;
}

// The extractor of the file's kind, as the desktop picks one by extension.
std::uint32_t extract_bitmap(apr_pool_t *pool, const char *path, const char *item, int size,
                             ThumbnailBitmap *bitmap) {
  switch (media_type_by_extension(path_extension(item, 0), -1)->media_class) {
    case MEDIA_VIDEO:
      return video_bitmap(path, size, bitmap);
    case MEDIA_IMAGE:
      return picture_file_bitmap(pool, path, size, bitmap);
    case MEDIA_AUDIO:
      return audio_bitmap(pool, path, size, bitmap);
    case MEDIA_AUDIO_OR_VIDEO:
      return video_bitmap(path, size, bitmap) == THUMB_OK ? THUMB_OK : audio_bitmap(pool, path, size, bitmap);
    default:
      return THUMB_E_NO_EXTRACTOR;
  }
}

std::uint32_t check_source(apr_pool_t *pool, const char *path, int size) {
  apr_finfo_t info;
  if (apr_stat(&info, path, APR_FINFO_TYPE, pool) != APR_SUCCESS) return THUMB_E_NOT_FOUND;
  if (info.filetype != APR_REG) return THUMB_E_NO_EXTRACTOR;
  if (size < 1 || size > THUMB_MAX_SIZE) return THUMB_E_INVALID_SIZE;
  return THUMB_OK;
}

int save(apr_pool_t *pool, const ThumbnailBitmap &bitmap, const char *output) {
  std::string jpeg;
  JpegResult encoded = picture_encode_jpeg(bitmap, &jpeg);
  if (encoded == JPEG_NO_ENCODER) return kFailure;
  int status = kSaveEncodeFailed;
  if (encoded == JPEG_OK) {
    apr_status_t written = platform_file_replace(pool, output, jpeg.data(), jpeg.size());
    if (written == APR_SUCCESS) return APR_SUCCESS;
    char reason[256];
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Could not write %s, reason: %s", output, apr_strerror(written, reason, sizeof reason)));
    status = kSaveWriteFailed;
  }
  LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("couldn't save thumbnail, status %d", status));
  return kFailure;
}

}  // namespace

int thumbnail_prepare_names(apr_pool_t *pool, const char *source, const char *output, ThumbnailNames *names) {
  char *folder = path_dirname(pool, source);
  const char *item = path_last_component(source);
  if (!fits_utf16(item) || !fits_utf16(folder)) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("could not convert %s to ucs2", source));
    return kFailure;
  }
  if (!fits_utf16(output)) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("could not convert %s to ucs2", output));
    return kFailure;
  }
  if (*folder == '\0') {
    char *current = nullptr;
    if (apr_filepath_get(&current, APR_FILEPATH_NATIVE, pool) != APR_SUCCESS) return kFailure;
    folder = apr_pstrcat(pool, current, "/", nullptr);
  }
  names->folder = folder;
  names->item = item;
  names->output = output;
  return APR_SUCCESS;
}

int thumbnail_extract(apr_pool_t *parent, const char *source, const char *output, int size) {
  Pool pool(parent, kModule);
  ThumbnailNames names;
  int status = thumbnail_prepare_names(pool, source, output, &names);
  if (status != APR_SUCCESS) return status;
  const char *path = apr_pstrcat(pool, names.folder, names.item, nullptr);
  ThumbnailBitmap bitmap;
  std::uint32_t code = check_source(pool, path, size);
  if (code == THUMB_OK) code = extract_bitmap(pool, path, names.item, size, &bitmap);
  if (code != THUMB_OK) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("could not extract thumbnail, error %X", code));
    return kFailure;
  }
  return save(pool, bitmap, names.output);
}
