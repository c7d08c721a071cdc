// Binding of the thumbnail functions (see CommonSharedLibrary). The probes'
// loaders open ffmpeg and MagickCore with RTLD_GLOBAL, so the functions they
// do not bind are found in the global scope; swscale is opened here.
#include "ThumbnailLibraries.h"

#include <iterator>

#include "MSFFMPEGLibrary.h"
#include "MSMagickLibrary.h"
#include "CommonSharedLibrary.h"

namespace {

constexpr const char *kModule = "WinThumbnailExtractor";
constexpr const char *kFailure = "Could not load the thumbnail libraries: %s";

#define ML_TEXT(x) #x
#define ML_SWSCALE_SONAME(major) "libswscale.so." ML_TEXT(major)
constexpr const char *kSwscale[] = {ML_SWSCALE_SONAME(LIBSWSCALE_VERSION_MAJOR)};

ThumbnailFFmpeg g_ffmpeg;
ThumbnailMagick g_magick;

template <typename Fn>
bool bind_global(const char *name, Fn *fn) {
  return shared_library_bind(RTLD_DEFAULT, name, fn);
}

bool bind_ffmpeg(void *swscale) {
  ThumbnailFFmpeg &f = g_ffmpeg;
  static_cast<FFmpegLibrary &>(f) = *ffmpeg_library();
  return bind_global("av_find_best_stream", &f.find_best_stream) && bind_global("av_seek_frame", &f.seek_frame) &&
         bind_global("av_read_frame", &f.read_frame) &&
         bind_global("avcodec_alloc_context3", &f.codec_alloc_context) &&
         bind_global("avcodec_free_context", &f.codec_free_context) &&
         bind_global("avcodec_parameters_to_context", &f.parameters_to_context) &&
         bind_global("avcodec_open2", &f.codec_open) && bind_global("avcodec_send_packet", &f.send_packet) &&
         bind_global("avcodec_receive_frame", &f.receive_frame) &&
         bind_global("avcodec_flush_buffers", &f.flush_buffers) && bind_global("av_packet_alloc", &f.packet_alloc) &&
         bind_global("av_packet_free", &f.packet_free) && bind_global("av_packet_unref", &f.packet_unref) &&
         bind_global("av_frame_alloc", &f.frame_alloc) && bind_global("av_frame_free", &f.frame_free) &&
         bind_global("av_frame_unref", &f.frame_unref) && bind_global("av_frame_move_ref", &f.frame_move_ref) &&
         shared_library_bind(swscale, "sws_getContext", &f.scaler_get) &&
         shared_library_bind(swscale, "sws_scale", &f.scale) &&
         shared_library_bind(swscale, "sws_freeContext", &f.scaler_free);
}

bool bind_magick(void *) {
  ThumbnailMagick &m = g_magick;
  static_cast<MagickLibrary &>(m) = *magick_library();
  return bind_global("SetImageOption", &m.set_image_option) &&
         bind_global("BlobToImage", &m.blob_to_image) && bind_global("ConstituteImage", &m.constitute_image) &&
         bind_global("AutoOrientImage", &m.auto_orient_image) && bind_global("ThumbnailImage", &m.thumbnail_image) &&
         bind_global("TransformImageColorspace", &m.transform_image_colorspace) &&
         bind_global("SetImageAlphaChannel", &m.set_image_alpha_channel) &&
         bind_global("ImageToBlob", &m.image_to_blob) && bind_global("GetMagickInfo", &m.get_magick_info) &&
         bind_global("ExportImagePixels", &m.export_image_pixels) &&
         bind_global("DestroyImage", &m.destroy_image) &&
         bind_global("RelinquishMagickMemory", &m.relinquish_memory);
}

SharedLibrary g_ffmpeg_set{kSwscale, std::size(kSwscale), bind_ffmpeg, nullptr, kModule, kFailure};
SharedLibrary g_magick_set{nullptr, 0, bind_magick, nullptr, kModule, kFailure};

}  // namespace

const ThumbnailFFmpeg *thumbnail_ffmpeg() {
  if (ffmpeg_library() == nullptr) return nullptr;
  return shared_library_load(g_ffmpeg_set) ? &g_ffmpeg : nullptr;
}

const ThumbnailMagick *thumbnail_magick() {
  if (magick_library() == nullptr) return nullptr;
  return shared_library_load(g_magick_set) ? &g_magick : nullptr;
}
