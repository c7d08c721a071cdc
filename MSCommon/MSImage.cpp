// Image size and EXIF date from a JPEG's header, else through MagickCore's
// ping.
#include "MSImage.h"

#include <apr_file_io.h>
#include <apr_strings.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "CommonFiles.h"
#include "CommonUrl.h"
#include "MSImageHeader.h"
#include "MSMagickLibrary.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "MSImage";
constexpr std::size_t kExifDateLength = 19;

const char *reason_text(apr_status_t status, char *buffer, std::size_t size) {
  return apr_strerror(status, buffer, size);
}

// The six numbers of "YYYY:MM:DD HH:MM:SS", separators not checked.
struct ExifFields {
  int values[6];
};

ExifFields exif_fields(const char *text) {
  constexpr int kStart[6] = {0, 5, 8, 11, 14, 17};
  constexpr int kWidth[6] = {4, 2, 2, 2, 2, 2};
  ExifFields fields{};
  for (int i = 0; i < 6; ++i) {
    fields.values[i] = std::atoi(std::string(text + kStart[i], kWidth[i]).c_str());
  }
  return fields;
}

// Owners of the MagickCore records of one ping.
struct MagickRecords {
  const MagickLibrary &magick;
  ExceptionInfo *exception = magick.acquire_exception_info();
  ImageInfo *image_info = magick.clone_image_info(nullptr);
  Image *image = nullptr;
  explicit MagickRecords(const MagickLibrary &library) : magick(library) {}
  MagickRecords(const MagickRecords &) = delete;
  MagickRecords &operator=(const MagickRecords &) = delete;
  ~MagickRecords() {
    if (image) magick.destroy_image_list(image);
    magick.destroy_image_info(image_info);
    magick.destroy_exception_info(exception);
  }
};

// The time a photo was taken comes before the time it was last edited.
constexpr const char *kExifDates[] = {"exif:DateTimeOriginal", "exif:DateTime"};

// The first of the dates (taken, edited) that is not empty; null or "" when absent.
void take_exif_date(const char *const (&dates)[2], ExifTime *exif) {
  const char *date = nullptr;
  for (const char *candidate : dates) {
    date = candidate;
    if (date != nullptr && date[0] != '\0') break;
  }
  if (!date || date[0] == '\0') return;
  if (exif_date_parse(date, &exif->time, &exif->exploded) != 0) {
    LOG4C(kModule, LOG4C_WARN, "wrong exif format");
  }
}

// A JPEG's header up to its first scan rarely needs more than its EXIF
// segment (at most 64 KiB) and a few tables.
constexpr apr_off_t kHeaderBytes = 128 * 1024;

// Size and dates from the file's first bytes (MSImageHeader). False when
// MagickCore has to read the file, also on any failure: that road logs it.
bool header_read(const char *path, apr_pool_t *pool, ImageInfoRecord *info, ExifTime *exif) {
  path = url_file_path(path);
  const apr_off_t size = file_size(path);
  if (size <= 0 || size > IMAGE_FILE_MAX_SIZE) return false;
  apr_file_t *file = nullptr;
  if (apr_file_open(&file, path, APR_FOPEN_READ | APR_FOPEN_BINARY, APR_FPROT_OS_DEFAULT, pool) != APR_SUCCESS) {
    return false;
  }
  const auto wanted = static_cast<apr_size_t>(size < kHeaderBytes ? size : kHeaderBytes);
  auto *bytes = static_cast<unsigned char *>(apr_palloc(pool, wanted));
  apr_size_t count = 0;
  const apr_status_t status = apr_file_read_full(file, bytes, wanted, &count);
  apr_file_close(file);
  ImageHeader header;
  if (status != APR_SUCCESS || !image_header_read(bytes, count, &header)) return false;
  info->present = 1;
  info->width = header.width;
  info->height = header.height;
  take_exif_date({header.taken, header.edited}, exif);
  return true;
}

}  // namespace

int image_file_load(const char *path, apr_pool_t *pool, std::size_t *length, char **buffer) {
  path = url_file_path(path);
  apr_off_t size = file_size(path);
  if (size <= 0 || size > IMAGE_FILE_MAX_SIZE) {
    LOG4C(
        kModule, LOG4C_ERROR,
        log4c_sprintf("Invalid image file size %" APR_INT64_T_FMT, static_cast<apr_int64_t>(size)));
    return APR_EGENERAL;
  }
  char reason[1024];
  apr_file_t *file = nullptr;
  apr_status_t status =
      apr_file_open(&file, path, APR_FOPEN_READ | APR_FOPEN_BINARY, APR_FPROT_OS_DEFAULT, pool);
  if (status != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Unable to open file (%s), reason: %s", path,
                        reason_text(status, reason, sizeof reason)));
    return APR_EGENERAL;
  }
  *buffer = static_cast<char *>(apr_palloc(pool, size));
  apr_size_t count = 0;
  status = apr_file_read_full(file, *buffer, size, &count);
  if (status == APR_SUCCESS && count != static_cast<apr_size_t>(size)) status = APR_EOF;
  if (status != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Unable to read file (%s), reason: %s", path,
                        reason_text(status, reason, sizeof reason)));
    apr_file_close(file);
    return APR_EGENERAL;
  }
  status = apr_file_close(file);
  if (status != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, reason_text(status, reason, sizeof reason));
    return APR_EGENERAL;
  }
  *length = count;
  return 0;
}

int image_info_read(const char *path, ImageInfoRecord *info, ExifTime *exif) {
  *info = ImageInfoRecord{};
  *exif = ExifTime{};
  {
    Pool pool(nullptr, kModule);
    if (header_read(path, pool, info, exif)) return 0;
  }
  return image_info_ping(path, info, exif);
}

int image_info_ping(const char *path, ImageInfoRecord *info, ExifTime *exif) {
  *info = ImageInfoRecord{};
  *exif = ExifTime{};
  const MagickLibrary *library = magick_library();
  if (library == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Could not read image %s", path));
    return APR_EGENERAL;
  }
  Pool pool(nullptr, kModule);
  MagickRecords magick(*library);
  std::size_t length = 0;
  char *blob = nullptr;
  if (image_file_load(path, pool, &length, &blob) != 0) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Could not read image %s", path));
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Could not read image %s", path));
    return APR_EGENERAL;
  }
  magick.image = library->ping_blob(magick.image_info, blob, length, magick.exception);
  if (!magick.image) {
    image_exception_log(magick.exception->severity, magick.exception->reason,
                        magick.exception->description);
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Could not read image %s", path));
    return APR_EGENERAL;
  }
  info->present = 1;
  info->width = static_cast<int>(magick.image->columns);
  info->height = static_cast<int>(magick.image->rows);
  take_exif_date({library->get_image_property(magick.image, kExifDates[0]),
                  library->get_image_property(magick.image, kExifDates[1])},
                 exif);
  if (library->get_image_list_length(magick.image) > 1) {
    LOG4C(kModule, LOG4C_WARN, "Image sequence encounterd, ignoring all except first...");
  }
  return 0;
}

void image_exception_log(int severity, const char *reason, const char *description) {
  int level = LOG4C_WARN;
  if (severity >= 1 && severity <= 299) {
    level = LOG4C_DEBUG;
  } else if (severity >= 400) {
    level = LOG4C_ERROR;
  }
  if (!log4c_is_enabled[level](kModule)) return;
  LOG4C(kModule, level,
        log4c_sprintf("ImageMagic Exception, Reason: %s, Description: %s", reason ? reason : "",
                      description ? description : ""));
}

int exif_date_parse(const char *text, apr_time_t *time, apr_time_exp_t *exploded) {
  *time = 0;
  *exploded = apr_time_exp_t{};
  if (!text || std::strlen(text) != kExifDateLength) {
    LOG4C("Common", LOG4C_ERROR, log4c_sprintf("wrong exif date: %s", text ? text : ""));
    return APR_EGENERAL;
  }
  ExifFields fields = exif_fields(text);
  apr_time_exp_t parsed{};
  parsed.tm_year = fields.values[0] - 1900;
  parsed.tm_mon = fields.values[1] - 1;
  parsed.tm_mday = fields.values[2];
  parsed.tm_hour = fields.values[3];
  parsed.tm_min = fields.values[4];
  parsed.tm_sec = fields.values[5];
  apr_time_t moment = 0;
  if (apr_time_exp_gmt_get(&moment, &parsed) != APR_SUCCESS) return 0;
  *time = moment;
  apr_time_exp_gmt(exploded, moment);
  return 0;
}
