// ThumbnailLibraries: the ffmpeg, swscale and MagickCore functions that
// thumbnails need: the media probes' own sets, copied in when a set is
// loaded, and the functions beyond them.
//
// A thumbnail of a photo never needs ffmpeg, nor one of a video MagickCore's
// decoders, and the tool runs once per thumbnail: each set is loaded the
// first time it is asked for, on top of the probes' own loaders (which open
// the libraries and route ffmpeg's log), and stays for the process.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <magick/MagickCore.h>

#include "MSFFMPEGLibrary.h"
#include "MSMagickLibrary.h"

struct ThumbnailFFmpeg : FFmpegLibrary {
  decltype(&av_find_best_stream) find_best_stream;
  decltype(&av_seek_frame) seek_frame;
  decltype(&av_read_frame) read_frame;
  decltype(&avcodec_alloc_context3) codec_alloc_context;
  decltype(&avcodec_free_context) codec_free_context;
  decltype(&avcodec_parameters_to_context) parameters_to_context;
  decltype(&avcodec_open2) codec_open;
  decltype(&avcodec_send_packet) send_packet;
  decltype(&avcodec_receive_frame) receive_frame;
  decltype(&avcodec_flush_buffers) flush_buffers;
  decltype(&av_packet_alloc) packet_alloc;
  decltype(&av_packet_free) packet_free;
  decltype(&av_packet_unref) packet_unref;
  decltype(&av_frame_alloc) frame_alloc;
  decltype(&av_frame_free) frame_free;
  decltype(&av_frame_unref) frame_unref;
  decltype(&av_frame_move_ref) frame_move_ref;
  decltype(&sws_getContext) scaler_get;
  decltype(&sws_scale) scale;
  decltype(&sws_freeContext) scaler_free;
};

struct ThumbnailMagick : MagickLibrary {
  decltype(&SetImageOption) set_image_option;
  decltype(&BlobToImage) blob_to_image;
  decltype(&ConstituteImage) constitute_image;
  decltype(&AutoOrientImage) auto_orient_image;
  decltype(&ThumbnailImage) thumbnail_image;
  decltype(&TransformImageColorspace) transform_image_colorspace;
  decltype(&SetImageAlphaChannel) set_image_alpha_channel;
  decltype(&ImageToBlob) image_to_blob;
  decltype(&GetMagickInfo) get_magick_info;
  decltype(&ExportImagePixels) export_image_pixels;
  decltype(&DestroyImage) destroy_image;
  decltype(&RelinquishMagickMemory) relinquish_memory;
};

// The bound functions, loading the libraries on the first call; null when
// they cannot be loaded (ERROR "Could not load the thumbnail libraries: %s"
// on "WinThumbnailExtractor", or the probes' own loader message).
const ThumbnailFFmpeg *thumbnail_ffmpeg();
const ThumbnailMagick *thumbnail_magick();
