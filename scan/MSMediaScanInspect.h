// MSMediaScanInspect: what a new or changed file says about itself (its
// streams, its tags, its picture size and date) read into plain records.
//
// Reads the file only (ffmpeg in a stream prober, TagLib, MagickCore), never the library nor a
// ScanContext, so it may run on any thread, on several at once; texts live
// in the pool passed. Logs only through the readers' own loggers; the scan's
// lines about a file come from the builders.
#pragma once

#include <apr_pools.h>

#include "CommonMultimedia.h"
#include "MSCodecCommon.h"
#include "MSImage.h"
#include "CommonCancel.h"

// The file to inspect; texts must outlive the inspection.
struct InspectRequest {
  const char *path;       // canonical full path
  const char *extension;  // as in the name
  int media_class;        // of the extension: MEDIA_IMAGE, or an audio or video class
  bool read_avi_tags;     // AVI tags come from the probe
};

// Tag fields as the item uses them; texts are "" when absent.
struct ItemTags {
  bool read = false;
  bool failed = false;  // a tag file whose tags could not be read
  const char *title = "";
  const char *artist = "";
  const char *album = "";
  const char *album_artist = "";
  const char *genre = "";
  const char *guid = "";
  int year = 0;
  int track = 0;
  int length = 0;  // seconds, read for MP3 files only
};

struct ProbeFacts {
  bool ok = false;
  VideoInfo video{};
  AudioInfo audio{};
  apr_int64_t duration = -1;
  apr_int64_t size = 0;
  const char *title = "", *author = "", *album = "", *genre = "";
  int year = 0, track = 0;
};

struct ImageFacts {
  bool ok = false;
  ImageInfoRecord info{};
  ExifTime exif{};
};

// Audio and video files fill probe and tags, images fill image.
struct FileFacts {
  ProbeFacts probe;
  ItemTags tags;
  ImageFacts image;
};

// Inspects the file of request into facts. cancel (may be null) is polled
// once the probe has read the streams. Returns 0, or 4 when cancelled.
int msms_inspect_file(apr_pool_t *pool, const InspectRequest &request, CancelCheck cancel, void *context,
                      FileFacts *facts);
