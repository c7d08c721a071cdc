// Inspection of one file: the stream probe (in a prober), then the tags (TagLib, or the
// probe's own for AVI), or the image ping.
#include "MSMediaScanInspect.h"

#include <strings.h>

#include "CommonTagLib.h"
#include "MSStreamProber.h"

namespace {

bool is_avi(const char *extension) {
  return strcasecmp(extension, "avi") == 0 || strcasecmp(extension, "divx") == 0;
}

int probe_file(apr_pool_t *pool, const InspectRequest &request, CancelCheck cancel, void *context,
               ProbeFacts *probe) {
  StreamFacts facts;
  const int status = stream_prober_probe(pool, request.path, &facts, cancel, context);
  probe->ok = status == APR_SUCCESS;
  probe->video = facts.video;
  probe->audio = facts.audio;
  if (probe->ok) {
    probe->duration = facts.duration;
    probe->size = facts.size;
    probe->title = facts.title;
    probe->author = facts.author;
    probe->album = facts.album;
    probe->genre = facts.genre;
    probe->year = facts.year;
    probe->track = facts.track;
  }
  return status == COMMON_CANCELLED ? COMMON_CANCELLED : APR_SUCCESS;
}

void read_tags(apr_pool_t *pool, const InspectRequest &request, const ProbeFacts &probe, ItemTags *tags) {
  if (is_avi(request.extension)) {
    if (!request.read_avi_tags || !probe.ok) return;
    tags->read = true;
    tags->title = probe.title;
    tags->artist = probe.author;
    tags->album = probe.album;
    tags->genre = probe.genre;
    tags->year = probe.year;
    tags->track = probe.track;
    return;
  }
  if (!is_tag_file(request.extension)) return;
  const char *comment = nullptr;
  // Only an MP3's length is taken from its tags (the probe times the rest);
  // the audio properties of the others would cost TagLib further reads.
  int *length = strcasecmp(request.extension, "mp3") == 0 ? &tags->length : nullptr;
  tags->read = tags_read(pool, request.path, &tags->title, &tags->artist, &comment, &tags->album,
                         &tags->album_artist, &tags->genre, &tags->year, &tags->track, length,
                         &tags->guid) == APR_SUCCESS;
  tags->failed = !tags->read;
}

}  // namespace

int msms_inspect_file(apr_pool_t *pool, const InspectRequest &request, CancelCheck cancel, void *context,
                      FileFacts *facts) {
  *facts = FileFacts{};
  if (request.media_class == MEDIA_IMAGE) {
    ImageFacts &image = facts->image;
    image.ok = image_info_read(request.path, &image.info, &image.exif) == APR_SUCCESS && image.info.present;
    return APR_SUCCESS;
  }
  if (probe_file(pool, request, cancel, context, &facts->probe) == COMMON_CANCELLED) return COMMON_CANCELLED;
  read_tags(pool, request, facts->probe, &facts->tags);
  return APR_SUCCESS;
}
