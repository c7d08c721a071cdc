// The actions of sharectl's option loop that go through the scan engine, and
// the account option.
#include "Shares.h"

#include <apr_strings.h>

#include <cstdio>
#include <cstring>

#include "CommonPath.h"
#include "MSMediaScan.h"
#include "Messages.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "Main";

const char *or_default(const char *text, const char *fallback) { return text ? text : fallback; }

// A relative path names a file or folder under the current folder, as in
// any shell command; absolute paths and URLs are kept as given.
const char *from_current_folder(apr_pool_t *pool, const char *path) {
  if (path == nullptr || path[0] == '\0' || path_is_absolute(path)) return path;
  const char *joined = path_join(pool, nullptr, nullptr, path);
  return joined != nullptr ? path_canonical(pool, joined) : path;
}

// Records the URL (a new source, or the one of that url rewritten); then,
// when asked, fetches and indexes it. A new source whose fetch fails is not
// kept: the run reports that it added nothing.
int record_and_fetch_url(RunState &run, apr_pool_t *pool, const char *url, const char *type, int *added) {
  MediaSource request{};
  request.name = or_default(run.title, url);
  request.type = type;
  request.url = url;
  request.tags = or_default(run.tags, "");
  request.is_public = 1;
  request.transcode_when = "";
  const char *user_message = nullptr;
  *added = 0;
  MediaSource found{};
  const bool known = msms_find_media_source(pool, url, &found) != nullptr;
  if (msms_share_url(pool, &request, URL_SHARE_RECORD, added, &user_message) != 0) {
    log4c_log(kModule, LOG4C_ERROR, log4c_sprintf("Could not add/update: %s", url), "main", __LINE__);
    return APR_EGENERAL;
  }
  if (!run.refresh_after_share) return 0;
  if (msms_share_url(pool, &request, URL_SHARE_PROCESS, added, &user_message) == 0) return 0;
  if (!known) msms_remove_media_source(pool, url, 1, nullptr, nullptr, nullptr);
  return APR_EGENERAL;
}

}  // namespace

int share_url(RunState &run, const char *url, const char *type) {
  Pool pool(run.root, kModule);
  int added = 0;
  if (record_and_fetch_url(run, pool, url, type, &added) != 0) {
    std::fputs(MSG_URL_FAILED, stdout);
    return APR_EGENERAL;
  }
  run.items_added += added;
  run.done = 1;
  std::fputs(MSG_URL_ADDED, stdout);
  return 0;
}

int share_path(RunState &run, const char *given, int audio, int video, int photo) {
  Pool pool(run.root, kModule);
  const char *path = from_current_folder(pool, given);
  MediaSource request{};
  request.name = or_default(run.title, path);
  request.url = path;
  request.tags = run.tags;
  request.lookfor_audio = audio;
  request.lookfor_video = video;
  request.lookfor_photo = photo;
  request.is_recursive = 1;
  request.transcode_when = "";
  int added = 0;
  int removed = 0;
  const int status = msms_share_path(pool, &request, run.refresh_after_share, 1, &added, &removed);
  // A URL given where a path belongs gets the options that share URLs named.
  if (status == APR_EBADPATH) std::printf(MSG_NOT_A_PATH, path != nullptr ? path : "");
  if (status != 0) return APR_EGENERAL;
  run.items_added += added;
  run.items_removed += removed;
  run.done = 1;
  return 0;
}

int unshare(RunState &run, const char *given) {
  Pool pool(run.root, kModule);
  // A source is named by its path, url or title: a relative path is tried
  // as a shared path first.
  const char *url = given;
  MediaSource found{};
  if (const char *path = from_current_folder(pool, given); msms_find_media_source(pool, path, &found) != nullptr) url = path;
  std::fputs(MSG_PLEASE_WAIT, stdout);
  const char *user_message = nullptr;
  if (msms_remove_media_source(pool, url, 1, &user_message, nullptr, nullptr) == 0) {
    std::printf("\n'%s' was removed.\n", url);
    return 0;
  }
  std::printf(
      "\nCould not delete '%s', please check again the name of the folder/file against the list displayed "
      "when using the -L (or --list) flag. Also, this may happen when the media server is refreshing the "
      "library, in which case you need to try again later, or stop the media server.\n",
      url);
  return APR_EGENERAL;
}

int list_sources(RunState &) {
  if (msms_list_media_sources() == 0) return 0;
  std::fputs("\n\nError encountered while retrieving the media sources.\n", stdout);
  return APR_EGENERAL;
}

int refresh_all(RunState &run) {
  if (msms_refresh_all(&run.items_added, &run.items_removed, nullptr, nullptr) == 0) {
    run.done = 1;
    return 0;
  }
  std::fputs(
      "\n\nCould not refresh, this is probably because the media server is already in a middle of a refresh "
      "or you have another instance of this application running. You can try again later.\n",
      stdout);
  return APR_EGENERAL;
}
