// MSMediaScanItemProps: the property list of a new audio, video or image
// item, built from the file's tags, streams and image data.
//
// Pure assembly from the file's inspected facts (MSMediaScanInspect); the
// list and its texts live in the file's pool. Runs on the scan's thread
// (it reads the scan's art cache and the system view table). Logs on
// "MSMediaScan".
#pragma once

#include <apr_pools.h>

#include "CommonMultimedia.h"
#include "CommonProp.h"
#include "MSMediaScanInspect.h"
#include "MSMediaScanContext.h"

// What the item builders know of the file being processed.
struct ItemSource {
  ScanContext *scan;
  const ScanFile *file;
  const char *relative;   // "/" for the source root
  const char *path;       // canonical full path
  const char *url;        // "file://" + path
  const char *extension;  // as in the name
  const MediaTypeEntry *type;
};

// A new audio or video item. *media_class receives MEDIA_VIDEO or
// MEDIA_AUDIO (for an audio-or-video format, decided by the probe: a video
// stream makes it video). A tag file whose tags could not be read is still
// made, after WARN "Could not get tags via TagLib for %s".
void msms_media_item_props(apr_pool_t *pool, const ItemSource &item, const FileFacts &facts, PropList **list,
                           int *media_class);

// A new photo item. An unreadable image only loses its resolution and own
// date, after ERROR "Could not get image information for %s".
void msms_image_item_props(apr_pool_t *pool, const ItemSource &item, const ImageFacts &image, PropList **list);

// The title rule: the tag title, else the file name without extension; with
// longTitle the folder text before it; tidied with prettyTags; "Unknown
// Title" (after WARN "Could not create title for media with no file name")
// when nothing is left. tags_read says whether the folder text is the
// relative folder made readable or left as it is.
const char *msms_item_title(apr_pool_t *pool, const ScanContext *scan, const char *relative,
                            const char *tag_title, const char *name, bool tags_read);

// The class an item is re-indexed under, from its stored class.
const char *msms_index_class(const char *item_class);
