// Thumbnails made on demand and kept under the file cache's budget.
#include "Thumbnails.h"

#include <apr_file_info.h>
#include <apr_strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "CommonFileCache.h"
#include "CommonPropNames.h"
#include "CommonTimeout.h"
#include "DidlUrls.h"
#include "Media.h"
#include "WinThumbnailExtractor.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "Thumbnails";
constexpr const char *kFolder = "cache/thumbnails/";
constexpr const char *kJpeg = "image/jpeg";

// The prefixes of the classes that have a thumbnail of their own file.
constexpr const char *kPictureClasses[] = {"object.item.imageItem", "object.item.videoItem"};
constexpr const char *kAudioClass = "object.item.audioItem";

const char *folder = nullptr;  // set by thumbnails_start

// The extractions running (their output paths) and the requests inside
// make(), under one lock.
struct Turns {
  std::mutex lock;
  std::condition_variable changed;
  std::set<std::string> running;
  unsigned inside = 0;
};
Turns turns;

unsigned workers() { return std::max(1u, std::thread::hardware_concurrency()); }

bool class_is(const char *klass, const char *prefix) {
  return klass != nullptr && std::strncmp(klass, prefix, std::strlen(prefix)) == 0;
}

// The file the thumbnail is made of: the album art of a track when it has
// one beside it, else the item's own file (a track's cover in its tags).
const char *source_of(apr_pool_t *pool, PropList *list) {
  const char *art = didl_file_path(didl_album_art(pool, list));
  const char *klass = prop_get(pool, list, PROP_UPNP_CLASS, 0);
  if (art != nullptr && class_is(klass, kAudioClass)) return art;
  return didl_file_path(prop_get(pool, list, PROP_RES, 0));
}

bool exists(const char *path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// Extracts into path once a worker is free and no other request is making
// the same thumbnail; true when the file is there afterwards.
bool extract_in_turn(apr_pool_t *pool, const char *source, const std::string &path) {
  std::unique_lock<std::mutex> held(turns.lock);
  turns.changed.wait(held, [&] { return turns.running.size() < workers() && turns.running.count(path) == 0; });
  if (exists(path.c_str())) return true;
  turns.running.insert(path);
  held.unlock();
  const bool made = source != nullptr && thumbnail_extract(pool, source, path.c_str(), THUMB_SIZE) == APR_SUCCESS;
  held.lock();
  turns.running.erase(path);
  turns.changed.notify_all();
  return made;
}

// Makes the thumbnail at path unless another request made it meanwhile.
// False when more than THUMB_WAITERS requests already wait, or it fails.
bool make(apr_pool_t *pool, const char *source, const char *path, HttpResponse &response) {
  {
    std::lock_guard<std::mutex> held(turns.lock);
    if (turns.inside >= workers() + THUMB_WAITERS) {
      http_text(response, 503, "Thumbnails are being made; try again");
      response.headers.emplace_back("Retry-After", "1");
      return false;
    }
    ++turns.inside;
  }
  const bool made = extract_in_turn(pool, source, path);
  {
    std::lock_guard<std::mutex> held(turns.lock);
    --turns.inside;
  }
  if (!made) {
    LOG4C(kModule, LOG4C_WARN, log4c_sprintf("No thumbnail for %s", source != nullptr ? source : "(no file)"));
    http_text(response, 404, "This object has no thumbnail");
    return false;
  }
  cache_cleanup();
  return true;
}

}  // namespace

int thumbnails_start(apr_pool_t *pool, const char *data_dir) {
  folder = apr_pstrcat(pool, data_dir, kFolder, nullptr);
  if (apr_dir_make_recursive(folder, APR_FPROT_OS_DEFAULT, pool) != APR_SUCCESS) {
    LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Could not make the thumbnail folder %s", folder));
    return APR_EGENERAL;
  }
  cache_add_folder(folder);
  return APR_SUCCESS;
}

bool thumbnails_has(apr_pool_t *pool, PropList *list) {
  // A picture or video of the internet is no file of this machine: no
  // thumbnail is made of it.
  if (source_of(pool, list) == nullptr) return false;
  const char *klass = prop_get(pool, list, PROP_UPNP_CLASS, 0);
  for (const char *prefix : kPictureClasses) {
    if (class_is(klass, prefix)) return true;
  }
  if (!class_is(klass, kAudioClass)) return false;
  // The stream probe reads a cover in a track's tags as a picture stream,
  // whose size the library keeps as the track's resolution: the cover is
  // known without opening the file on every Browse.
  return didl_album_art(pool, list) != nullptr || prop_get(pool, list, PROP_RES_RESOLUTION, 0) != nullptr;
}

void thumbnails_serve(void *context, HttpServerRequest &request, HttpResponse &response) {
  const char *oid = nullptr;
  PropList *list = media_object(context, request, response, THUMB_PATH, &oid);
  if (list == nullptr) return;
  if (!thumbnails_has(request.pool, list)) return http_text(response, 404, "This object has no thumbnail");
  const char *path = apr_pstrcat(request.pool, folder, oid, ".jpg", nullptr);
  if (!exists(path) && !make(request.pool, source_of(request.pool, list), path, response)) return;
  cache_lock(&path, 1);
  media_serve_file(request, response, path, kJpeg);
  cache_release(&path, 1);
}
