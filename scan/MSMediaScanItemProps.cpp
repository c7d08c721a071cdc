// Property lists of new file items: the rows every item gets, the tag rows
// with their "Unknown ..." defaults, the stream facts of the probe in the
// vocabulary's res attributes, and the photo rows with the picture's own date.
#include "MSMediaScanItemProps.h"

#include <apr_strings.h>

#include <cstring>

#include "CommonHttp.h"
#include "CommonNumbers.h"
#include "CommonText.h"
#include "CommonTime.h"
#include "MSMediaScanAlbumArt.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanTidy.h"
#include "log4c.h"

namespace {

constexpr const char *kAudioClass = "object.item.audioItem.musicTrack";
constexpr const char *kVideoClass = "object.item.videoItem";
constexpr const char *kPhotoClass = "object.item.imageItem.photo";
constexpr std::size_t kMaxFolderText = 20;
constexpr std::size_t kCutFolderText = 18;

constexpr const char *kIndexClasses[] = {kVideoClass, kAudioClass, kPhotoClass};

const char *or_unknown(const char *value, const char *unknown) {
  return value != nullptr && value[0] != '\0' ? value : unknown;
}

char *local_time_text(apr_pool_t *pool, apr_time_t time, const char *format) {
  apr_time_exp_t exploded;
  char buffer[128];
  apr_size_t length = 0;
  if (apr_time_exp_lt(&exploded, time) != APR_SUCCESS ||
      apr_strftime(buffer, &length, sizeof buffer, format, &exploded) != APR_SUCCESS) {
    return nullptr;
  }
  return apr_pstrndup(pool, buffer, length);
}

void add_date_text(apr_pool_t *pool, PropList *list, apr_time_t time) {
  if (time <= 0) return;
  if (const char *text = local_time_text(pool, time, "%Y-%m-%d - %A %b %e")) {
    prop_add(pool, list, PROP_ZENTORIA_DATE, text);
  }
}

// The rows every file item starts with.
PropList *common_rows(apr_pool_t *pool, const ItemSource &item, const char *item_class) {
  PropList *list = prop_list_create(pool);
  prop_add(pool, list, PROP_UPNP_CLASS, item_class);
  prop_add(pool, list, PROP_RES, item.url);
  prop_set(pool, list, PROP_RES_PROTOCOL_INFO, protocol_info_http(pool, item.type->mime_type));
  prop_add(pool, list, PROP_ZENTORIA_FILENAME, path_strip_extension(pool, item.file->name));
  prop_add(pool, list, PROP_ZENTORIA_FOLDER, item.relative);
  prop_add(pool, list, PROP_ZENTORIA_BASE_PATH, item.scan->root);
  return list;
}

void add_number(apr_pool_t *pool, PropList *list, int slot, apr_int64_t value) {
  if (value > 0) prop_set(pool, list, slot, str_from_int64(pool, value));
}

// The probe's facts as attributes of the item's res.
void stream_rows(apr_pool_t *pool, PropList *list, const ProbeFacts &probe, const ItemSource &item,
                 int media_class, int tag_length) {
  add_number(pool, list, PROP_RES_SIZE, probe.ok && probe.size > 0 ? probe.size : item.file->size);
  if (!probe.ok) return;
  // The tag reader times an mp3 better than the probe, and times nothing
  // else; an mp3 without tags keeps the probe's time.
  const apr_int64_t seconds = tag_length > 0 ? tag_length : (probe.duration > 0 ? probe.duration / 1000000 : 0);
  if (seconds > 0) prop_set(pool, list, PROP_RES_DURATION, duration_format(pool, static_cast<int>(seconds)));
  const AudioInfo &audio = probe.audio;
  const VideoInfo &video = probe.video;
  add_number(pool, list, PROP_RES_BITRATE, media_class == MEDIA_VIDEO && video.bit_rate > 0 ? video.bit_rate : audio.bit_rate);
  if (audio.present) {
    add_number(pool, list, PROP_RES_SAMPLE_FREQUENCY, audio.sample_rate);
    add_number(pool, list, PROP_RES_NR_AUDIO_CHANNELS, audio.channels);
    if (const char *name = codec_name_by_id(audio.codec_id)) prop_set(pool, list, PROP_RES_AUDIO_CODEC, name);
    if (audio.language != nullptr && audio.language[0] != '\0') prop_set(pool, list, PROP_RES_LANGUAGE, audio.language);
  }
  if (video.present) {
    if (video.width > 0 && video.height > 0) {
      prop_set(pool, list, PROP_RES_RESOLUTION, apr_psprintf(pool, "%dx%d", video.width, video.height));
    }
    if (const char *name = codec_name_by_id(video.codec_id)) prop_set(pool, list, PROP_RES_VIDEO_CODEC, name);
    if (video.profile != nullptr) prop_set(pool, list, PROP_RES_VIDEO_PROFILE, video.profile);
    if (video.frame_rate_num > 0 && video.frame_rate_den > 0) {
      prop_set(pool, list, PROP_RES_VIDEO_FPS,
               apr_psprintf(pool, "%.2f", static_cast<double>(video.frame_rate_num) / video.frame_rate_den));
    }
  }
}

const char *tidy_if(apr_pool_t *pool, const ScanContext *scan, const char *text) {
  return scan->pretty_tags && text[0] != '\0' ? msms_tidy(pool, text) : text;
}

void tag_rows(apr_pool_t *pool, PropList *list, const ItemSource &item, const ItemTags &tags, int media_class) {
  const ScanContext *scan = item.scan;
  int year = tags.year;
  if (year > 0 && year < 100) year += 1900;
  if (year >= 1) {
    prop_add(pool, list, PROP_ZENTORIA_YEAR, apr_psprintf(pool, "%d", year));
    prop_add(pool, list, PROP_DC_DATE, apr_psprintf(pool, "%d-01-01", year));
  } else if (item.file->mtime > 0) {
    if (const char *date = local_time_text(pool, item.file->mtime, "%Y-%m-%d")) prop_add(pool, list, PROP_DC_DATE, date);
  }
  if (tags.track > 0) prop_add(pool, list, PROP_UPNP_ORIGINAL_TRACK_NUMBER, apr_psprintf(pool, "%010d", tags.track));
  const char *artist = tidy_if(pool, scan, tags.artist);
  const char *album = tidy_if(pool, scan, tags.album);
  const char *album_artist = tidy_if(pool, scan, tags.album_artist);
  if (media_class == MEDIA_AUDIO) {
    prop_add(pool, list, PROP_UPNP_ARTIST, or_unknown(artist, "Unknown Artist"));
  } else {
    prop_add(pool, list, PROP_DC_PUBLISHER, or_unknown(artist, "Unknown publisher"));
  }
  prop_add(pool, list, PROP_UPNP_ALBUM, or_unknown(album, "Unknown Album"));
  prop_add(pool, list, PROP_ZENTORIA_ALBUM_ARTIST, or_unknown(album_artist, or_unknown(artist, "Unknown Artist")));
  prop_add(pool, list, PROP_UPNP_GENRE, or_unknown(tidy_if(pool, scan, tags.genre), "Unknown Genre"));
  if (tags.guid[0] != '\0') prop_add(pool, list, PROP_ZENTORIA_WMP_GUID, tags.guid);
  if (std::strcmp(album, tags.album) != 0) prop_add(pool, list, PROP_ZENTORIA_RAW_ALBUM, tags.album);
}

void art_rows(apr_pool_t *pool, PropList *list, const ItemSource &item, const ItemTags &tags) {
  AlbumArt art = msms_find_album_art(pool, item.scan->art_cache, item.path, tags.album, tags.guid);
  prop_add(pool, list, PROP_ZENTORIA_ART_LARGE, art.large != nullptr ? art.large : "");
  prop_add(pool, list, PROP_ZENTORIA_ART_SMALL, art.small != nullptr ? art.small : "");
}

void add_system_view(apr_pool_t *pool, PropList *list, const ScanContext *scan, int kind) {
  const char *path = scan->library->system_views[kind];
  if (path != nullptr) prop_add(pool, list, PROP_ZENTORIA_SYSTAG_LIB_VIEW, path);
}

// The photo's own date, else the file's; both as local broken-down time.
bool image_date(const ExifTime &exif, apr_time_t mtime, apr_time_exp_t *date) {
  if (exif.time != 0) {
    *date = exif.exploded;
    return true;
  }
  return mtime > 0 && apr_time_exp_lt(date, mtime) == APR_SUCCESS;
}

void image_date_rows(apr_pool_t *pool, PropList *list, const apr_time_exp_t &date) {
  char buffer[128];
  apr_size_t length = 0;
  apr_time_exp_t copy = date;
  if (apr_strftime(buffer, &length, sizeof buffer, "%Y-%m-%d - %A %b %e", &copy) == APR_SUCCESS) {
    prop_add(pool, list, PROP_ZENTORIA_DATE, apr_pstrndup(pool, buffer, length));
  }
  prop_add(pool, list, PROP_ZENTORIA_DATE_YEAR, apr_psprintf(pool, "%d", date.tm_year + 1900));
  prop_add(pool, list, PROP_ZENTORIA_DATE_MONTH, apr_psprintf(pool, "%d", date.tm_mon));
  prop_add(pool, list, PROP_ZENTORIA_DATE_DAY, apr_psprintf(pool, "%d", date.tm_mday));
  prop_add(pool, list, PROP_DC_DATE,
           apr_psprintf(pool, "%04d-%02d-%02d", date.tm_year + 1900, date.tm_mon + 1, date.tm_mday));
}

// The last folder name with "/", "_" and "." as spaces: a photo's album.
const char *folder_album(apr_pool_t *pool, const char *relative) {
  const char *slash = std::strrchr(relative, '/');
  char *album = apr_pstrdup(pool, slash != nullptr ? slash + 1 : relative);
  for (char *c = album; *c != '\0'; ++c) {
    if (*c == '_' || *c == '.') *c = ' ';
  }
  return album;
}

}  // namespace

const char *msms_item_title(apr_pool_t *pool, const ScanContext *scan, const char *relative,
                            const char *tag_title, const char *name, bool tags_read) {
  const char *title = tag_title != nullptr && tag_title[0] != '\0' ? tag_title : path_strip_extension(pool, name);
  if (scan->long_title) {
    char *folder = apr_pstrdup(pool, relative);
    if (tags_read) {
      for (char *c = folder; *c != '\0'; ++c) {
        if (*c == '/' || *c == '_' || *c == '.') *c = ' ';
      }
    }
    if (std::strlen(folder) > kMaxFolderText) folder = apr_pstrcat(pool, apr_pstrndup(pool, folder, kCutFolderText), "..", nullptr);
    title = title != nullptr && title[0] != '\0' ? apr_pstrcat(pool, folder, " ", title, nullptr) : folder;
  }
  if (scan->pretty_tags && title != nullptr) title = msms_tidy(pool, title);
  if (title == nullptr || title[0] == '\0') {
    LOG4C(MSMS_MODULE, LOG4C_WARN, "Could not create title for media with no file name");
    title = "Unknown Title";
  }
  return title;
}

const char *msms_index_class(const char *item_class) {
  for (const char *known : kIndexClasses) {
    if (item_class != nullptr && std::strncmp(item_class, known, std::strlen(known)) == 0) return known;
  }
  return "object.item";
}

void msms_media_item_props(apr_pool_t *pool, const ItemSource &item, const FileFacts &facts, PropList **list,
                           int *media_class) {
  const ProbeFacts &probe = facts.probe;
  const ItemTags &tags = facts.tags;
  *media_class = item.type->media_class;
  if (*media_class == MEDIA_AUDIO_OR_VIDEO) *media_class = probe.ok && probe.video.present ? MEDIA_VIDEO : MEDIA_AUDIO;
  // The tag reader says nothing about an unreadable or untagged file; the
  // item is still made, from the probe and the file name.
  if (tags.failed) LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not get tags via TagLib for %s", item.path));
  const bool audio = *media_class == MEDIA_AUDIO;
  *list = common_rows(pool, item, audio ? kAudioClass : kVideoClass);
  add_date_text(pool, *list, item.file->mtime);
  stream_rows(pool, *list, probe, item, *media_class, tags.length);
  tag_rows(pool, *list, item, tags, *media_class);
  prop_add(pool, *list, PROP_DC_TITLE,
           msms_item_title(pool, item.scan, item.relative, tidy_if(pool, item.scan, tags.title), item.file->name, tags.read));
  if (audio && item.scan->handle_album_art) art_rows(pool, *list, item, tags);
  add_system_view(pool, *list, item.scan, audio ? MEDIA_KIND_AUDIO : MEDIA_KIND_VIDEO);
}

void msms_image_item_props(apr_pool_t *pool, const ItemSource &item, const ImageFacts &image, PropList **list) {
  *list = common_rows(pool, item, kPhotoClass);
  prop_set(pool, *list, PROP_RES_SIZE, str_from_int64(pool, static_cast<apr_int64_t>(item.file->size)));
  prop_add(pool, *list, PROP_DC_TITLE, msms_item_title(pool, item.scan, item.relative, nullptr, item.file->name, true));
  // Photos at the source root have no folder to name their album after.
  const char *album = folder_album(pool, item.relative);
  if (album[0] != '\0') prop_add(pool, *list, PROP_UPNP_ALBUM, album);
  if (!image.ok) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("Could not get image information for %s", item.path));
  } else {
    prop_set(pool, *list, PROP_RES_RESOLUTION, apr_psprintf(pool, "%dx%d", image.info.width, image.info.height));
  }
  apr_time_exp_t date{};
  if (image_date(image.exif, item.file->mtime, &date)) image_date_rows(pool, *list, date);
  add_system_view(pool, *list, item.scan, MEDIA_KIND_PHOTO);
}
