// DlnaProfile: the DLNA fourth field of a res's protocolInfo, worked out
// from what the library stores about the file's streams (MIME type of the
// container, codecs, video profile and level, resolution, bitrate, sample
// rate, channels) through a table of DLNA media format profiles. A file that fits no row gets no
// DLNA.ORG_PN: a strict player refuses a wrong name sooner than a missing
// one. Pure functions over constant tables; any thread, results in the
// caller's pool.
#pragma once

#include <apr_pools.h>

#include "CommonProp.h"

// The facts of one res, as the library holds them (0 or null: unknown).
struct DlnaStreams {
  const char *mime;
  const char *video_codec;  // the library's codec names: "H264", "MPEG2VIDEO"...
  const char *audio_codec;  // "MP3", "AAC", "AC3", "MP2"...
  const char *video_profile;  // ffmpeg's name: "High", "Main", "Constrained Baseline"...
  unsigned video_level;       // H.264's level in tenths (41 for 4.1)
  unsigned width, height;
  unsigned long bitrate;  // bits per second, as the library stores it
  unsigned sample_rate;
  unsigned channels;
};

// The facts of res instance n of an object's list.
DlnaStreams dlna_streams(apr_pool_t *pool, PropList *list, int n);

// The DLNA.ORG_PN name of the streams, or null when no profile fits.
const char *dlna_profile_name(const DlnaStreams &streams);

// Whether a MIME type is sent as a stream (audio, video) or interactively
// (images and everything else), for the flags and transferMode.dlna.org.
bool dlna_is_streamed(const char *mime);

// The fourth protocolInfo field: "DLNA.ORG_PN=<name>;" when name is not null,
// then DLNA.ORG_OP=01 (byte ranges), DLNA.ORG_CI=0 and DLNA.ORG_FLAGS
// (DLNA 1.5, background transfer, streaming or interactive by mime).
const char *dlna_fourth_field(apr_pool_t *pool, const char *mime, const char *name);

// protocol_info ("http-get:*:<mime>:<fourth>") with its mime replaced by
// mime (when not null) and its fourth field by fourth; null when
// protocol_info does not have four fields.
const char *dlna_protocol_info(apr_pool_t *pool, const char *protocol_info, const char *mime, const char *fourth);

// The third field (MIME type) of a protocolInfo, or null.
const char *dlna_protocol_mime(apr_pool_t *pool, const char *protocol_info);
