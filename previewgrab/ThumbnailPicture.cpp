#include "ThumbnailPicture.h"

#include <strings.h>

#include <cstdio>

#include <iterator>

#include "ThumbnailLibraries.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "WinThumbnailExtractor";
constexpr int kJpegQuality = 88;

// Coders with a plain raster decoder; others (vector and script formats,
// formats read through outside programs) are not run on a user's file.
constexpr const char *kAcceptedCoders[] = {"JPEG", "PNG", "GIF", "BMP", "BMP2", "BMP3", "TIFF", "TIFF64",
                                          "WEBP", "ICO", "PNM", "PPM", "PGM", "PBM", "TGA", "JP2", "HEIC"};

bool accepted_coder(const char *magick) {
  for (const char *coder : kAcceptedCoders) {
    if (strcasecmp(coder, magick) == 0) return true;
  }
  return false;
}

// Owners of the MagickCore records of one call.
struct MagickCall {
  const ThumbnailMagick &m;
  ExceptionInfo *exception = m.acquire_exception_info();
  ImageInfo *info = m.clone_image_info(nullptr);
  explicit MagickCall(const ThumbnailMagick &library) : m(library) {}
  MagickCall(const MagickCall &) = delete;
  MagickCall &operator=(const MagickCall &) = delete;
  ~MagickCall() {
    m.destroy_image_info(info);
    m.destroy_exception_info(exception);
  }
  void log_exception() const {
    if (exception->severity != UndefinedException) {
      LOG4C(kModule, exception->severity >= ErrorException ? LOG4C_ERROR : LOG4C_WARN,
            log4c_sprintf("ImageMagick: %s %s", exception->reason ? exception->reason : "",
                          exception->description ? exception->description : ""));
    }
  }
};

// Owner of one image (a list when MagickCore returns one).
struct ImageOwner {
  const ThumbnailMagick &m;
  Image *image;
  ImageOwner(const ThumbnailMagick &library, Image *owned) : m(library), image(owned) {}
  ImageOwner(const ImageOwner &) = delete;
  ImageOwner &operator=(const ImageOwner &) = delete;
  ~ImageOwner() {
    if (image != nullptr) m.destroy_image_list(image);
  }
  void replace(Image *next) {
    if (next == nullptr) return;
    m.destroy_image_list(image);
    image = next;
  }
};

// The header's size and coder, without decoding pixels.
std::uint32_t check_header(MagickCall &call, const void *data, std::size_t length) {
  ImageOwner ping(call.m, call.m.ping_blob(call.info, data, length, call.exception));
  if (ping.image == nullptr) {
    call.log_exception();
    return THUMB_E_NO_PICTURE;
  }
  if (!accepted_coder(ping.image->magick)) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Pictures in %s format are not decoded", ping.image->magick));
    return THUMB_E_NO_PICTURE;
  }
  const long long pixels = static_cast<long long>(ping.image->columns) * static_cast<long long>(ping.image->rows);
  if (pixels <= 0 || pixels > THUMB_MAX_PIXELS) {
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Picture of %zux%zu pixels is beyond the limit of %lld", ping.image->columns,
                        ping.image->rows, THUMB_MAX_PIXELS));
    return THUMB_E_OUT_OF_MEMORY;
  }
  return THUMB_OK;
}

// Upright, opaque over white, sRGB, fitted.
bool prepare(const ThumbnailMagick &m, ImageOwner &owner, int size, ExceptionInfo *exception) {
  owner.replace(m.auto_orient_image(owner.image, owner.image->orientation, exception));
  if (owner.image->matte != MagickFalse) {
    owner.image->background_color.red = owner.image->background_color.green = QuantumRange;
    owner.image->background_color.blue = QuantumRange;
    owner.image->background_color.opacity = OpaqueOpacity;
    m.set_image_alpha_channel(owner.image, RemoveAlphaChannel);
  }
  m.transform_image_colorspace(owner.image, sRGBColorspace);
  ThumbnailFit fit = thumbnail_fit(static_cast<long long>(owner.image->columns),
                                   static_cast<long long>(owner.image->rows), size);
  Image *scaled = m.thumbnail_image(owner.image, static_cast<size_t>(fit.width), static_cast<size_t>(fit.height),
                                    exception);
  if (scaled == nullptr) return false;
  owner.replace(scaled);
  return true;
}

}  // namespace

std::uint32_t picture_bitmap(const void *data, std::size_t length, int size, ThumbnailBitmap *bitmap) {
  const ThumbnailMagick *m = thumbnail_magick();
  if (m == nullptr) return THUMB_E_NO_PICTURE;
  MagickCall call(*m);
  std::uint32_t code = check_header(call, data, length);
  if (code != THUMB_OK) return code;
  call.info->scene = 0;
  call.info->number_scenes = 1;
  char hint[32];
  std::snprintf(hint, sizeof hint, "%dx%d", size, size);
  m->set_image_option(call.info, "jpeg:size", hint);
  ImageOwner owner(*m, m->blob_to_image(call.info, data, length, call.exception));
  if (owner.image == nullptr || !prepare(*m, owner, size, call.exception)) {
    call.log_exception();
    return THUMB_E_NO_PICTURE;
  }
  bitmap->width = static_cast<int>(owner.image->columns);
  bitmap->height = static_cast<int>(owner.image->rows);
  bitmap->rgb.assign(static_cast<std::size_t>(bitmap->width) * bitmap->height * 3, 0);
  if (m->export_image_pixels(owner.image, 0, 0, owner.image->columns, owner.image->rows, "RGB", CharPixel,
                             bitmap->rgb.data(), call.exception) == MagickFalse) {
    call.log_exception();
    return THUMB_E_NO_PICTURE;
  }
  return THUMB_OK;
}

JpegResult picture_encode_jpeg(const ThumbnailBitmap &bitmap, std::string *jpeg) {
  const ThumbnailMagick *m = thumbnail_magick();
  if (m == nullptr) return JPEG_FAILED;
  MagickCall call(*m);
  const MagickInfo *coder = m->get_magick_info("JPEG", call.exception);
  if (coder == nullptr || coder->encoder == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, "couldn't find jpeg encoder");
    return JPEG_NO_ENCODER;
  }
  ImageOwner owner(*m, m->constitute_image(static_cast<size_t>(bitmap.width), static_cast<size_t>(bitmap.height),
                                           "RGB", CharPixel, bitmap.rgb.data(), call.exception));
  if (owner.image == nullptr) {
    call.log_exception();
    return JPEG_FAILED;
  }
  std::snprintf(call.info->magick, sizeof call.info->magick, "JPEG");
  std::snprintf(owner.image->magick, sizeof owner.image->magick, "JPEG");
  call.info->quality = kJpegQuality;
  owner.image->quality = kJpegQuality;
  size_t length = 0;
  void *blob = m->image_to_blob(call.info, owner.image, &length, call.exception);
  if (blob == nullptr) {
    call.log_exception();
    return JPEG_FAILED;
  }
  jpeg->assign(static_cast<const char *>(blob), length);
  m->relinquish_memory(blob);
  return JPEG_OK;
}
