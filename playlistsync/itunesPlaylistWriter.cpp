// Writing one .pls file (or a music and a movies file) per playlist. Every
// byte goes through put(), which feeds the file's MD5 context too, so the
// sidecar always describes the file as written.
#include "itunesPlaylistWriter.h"

#include <apr_file_io.h>
#include <apr_md5.h>
#include <apr_strings.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "CommonFolderSync.h"
#include "CommonMultimedia.h"
#include "CommonNumbers.h"
#include "CommonPath.h"
#include "itunesConversionUtils.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr std::string_view kHeader = "[playlist]\n\n";

struct OutputFile {
  const char *suffix;               // appended to the folder and the playlist name
  const char *removed_message;      // INFO when the file ends up empty
  const char *path = nullptr;
  apr_file_t *file = nullptr;
  apr_md5_ctx_t md5{};
  int entries = 0;
  apr_status_t failure = APR_SUCCESS;  // first failed write or digest update
};

// One playlist being written: one output file, or music and movies.
struct PlaylistFiles {
  apr_pool_t *pool;
  const char *name;
  const char *final_path;
  std::vector<OutputFile> files;
};

constexpr int kMusic = 0;
constexpr int kMovies = 1;

void log_error(const char *message) { LOG4C(ITUNES_MODULE, LOG4C_ERROR, message); }

// The file name of a playlist: its name, with each "/" (the only separator
// on Linux) made "_", and "_" before a name that would be a folder's own
// entry ("", "." or ".."), so that no name reaches outside the folder.
const char *safe_file_name(apr_pool_t *pool, const char *name) {
  char *safe = apr_pstrdup(pool, name);
  for (char *slash = std::strchr(safe, '/'); slash != nullptr; slash = std::strchr(slash, '/')) *slash = '_';
  if (*safe == '\0' || std::strcmp(safe, ".") == 0 || std::strcmp(safe, "..") == 0)
    return apr_pstrcat(pool, "_", safe, nullptr);
  return safe;
}

void put(OutputFile &out, std::string_view text) {
  if (out.failure != APR_SUCCESS) return;
  out.failure = apr_file_write_full(out.file, text.data(), text.size(), nullptr);
  if (out.failure != APR_SUCCESS) {
    log_error(log4c_sprintf("could not write file %s", out.path));
    return;
  }
  out.failure = apr_md5_update(&out.md5, text.data(), text.size());
  if (out.failure != APR_SUCCESS) log_error(log4c_sprintf("could not updated md5 while processing file %s", out.path));
}

int init_digests(PlaylistFiles &playlist) {
  for (OutputFile &out : playlist.files) {
    apr_status_t status = apr_md5_init(&out.md5);
    if (status != APR_SUCCESS) {
      log_error("couldn't initialize md5 context");
      return status;
    }
  }
  return APR_SUCCESS;
}

void close_and_delete(PlaylistFiles &playlist) {
  for (OutputFile &out : playlist.files) {
    if (out.file == nullptr) continue;
    apr_file_close(out.file);
    apr_file_remove(out.path, playlist.pool);
    out.file = nullptr;
  }
}

int open_files(PlaylistFiles &playlist, const char *folder) {
  for (OutputFile &out : playlist.files) {
    out.path = apr_pstrcat(playlist.pool, folder, playlist.name, out.suffix, nullptr);
    apr_status_t status = apr_file_open(&out.file, out.path,
                                        APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE |
                                            APR_FOPEN_BINARY | APR_FOPEN_BUFFERED,
                                        APR_OS_DEFAULT, playlist.pool);
    if (status != APR_SUCCESS) {
      out.file = nullptr;
      log_error(log4c_sprintf("could not create file %s", out.path));
      close_and_delete(playlist);
      return status;
    }
    put(out, kHeader);
  }
  return APR_SUCCESS;
}

bool is_movie(const ItunesTrack &track) {
  const char *extension = path_extension(track.location, 0);
  std::int32_t media_class = media_type_by_extension(extension, -1)->media_class;
  return media_class == MEDIA_VIDEO || media_class == MEDIA_AUDIO_OR_VIDEO;
}

std::string length_text(const ItunesTrack &track) {
  apr_int64_t milliseconds = 0;
  if (!parse_int64(track.total_time, &milliseconds)) return "-1";
  return std::to_string(milliseconds / 1000);
}

// scratch holds the formatted lines until the next entry clears it.
void put_entry(apr_pool_t *scratch, OutputFile &out, const ItunesTrack &track) {
  int n = ++out.entries;
  put(out, apr_psprintf(scratch, "File%d=%s\n", n, track.location));
  put(out, apr_psprintf(scratch, "Title%d=%s\n", n, track.title != nullptr ? track.title : ""));
  put(out, apr_psprintf(scratch, "Length%d=%s\n\n", n, length_text(track).c_str()));
}

// The playlist's tracks in item order; false (after the errors) when an item
// names a track the library does not have.
bool collect_tracks(const PlaylistFiles &playlist, const ItunesLibrary &library, const apr_array_header_t *items,
                    std::vector<const ItunesTrack *> &tracks) {
  for (int i = 0; i < items->nelts; ++i) {
    const char *id = APR_ARRAY_IDX(items, i, const char *);
    auto *track = static_cast<const ItunesTrack *>(apr_hash_get(library.tracks, id, APR_HASH_KEY_STRING));
    if (track == nullptr) {
      log_error(log4c_sprintf("could not find track, playlist %s, total number %d, current track- %s : %s",
                              playlist.name, items->nelts, apr_itoa(playlist.pool, i + 1), id));
      LOG4C(ITUNES_MODULE, LOG4C_WARN, log4c_sprintf("errors in playlist %s, moving to next file", playlist.name));
      return false;
    }
    tracks.push_back(track);
  }
  return true;
}

void put_tracks(PlaylistFiles &playlist, const std::vector<const ItunesTrack *> &tracks) {
  bool separate = playlist.files.size() > 1;
  Pool scratch(playlist.pool, ITUNES_MODULE);
  for (const ItunesTrack *track : tracks) {
    if (track->is_protected || track->location == nullptr) continue;
    put_entry(scratch, playlist.files[separate && is_movie(*track) ? kMovies : kMusic], *track);
    scratch.clear();
  }
  for (OutputFile &out : playlist.files)
    put(out, log4c_sprintf("NumberOfEntries=%d\n\nVersion=2\n", out.entries));
}

bool has_failed_write(const PlaylistFiles &playlist) {
  for (const OutputFile &out : playlist.files)
    if (out.failure != APR_SUCCESS) return true;
  return false;
}

// Closes every file, gives those with entries their sidecar and deletes the
// empty ones. False when a sidecar could not be made (its file is deleted).
bool close_with_sidecars(PlaylistFiles &playlist) {
  bool complete = true;
  for (OutputFile &out : playlist.files) {
    apr_status_t status = md5_sidecar_write(playlist.pool, out.file, out.path, &out.md5, out.entries);
    out.file = nullptr;
    if (status != APR_SUCCESS) {
      log_error(log4c_sprintf("problem to md5 file, removing %s", out.path));
      apr_file_remove(out.path, playlist.pool);
      complete = false;
    } else if (out.entries == 0) {
      apr_file_remove(out.path, playlist.pool);
      LOG4C(ITUNES_MODULE, LOG4C_INFO, log4c_sprintf(out.removed_message, out.path));
    }
  }
  return complete;
}

// A split playlist that turned out to hold only one kind keeps the plain
// name. The file is renamed while still open, before its sidecar is written,
// so that the sidecar names the file as it stays.
void rename_single_kind(PlaylistFiles &playlist) {
  if (playlist.files.size() < 2) return;
  bool music = playlist.files[kMusic].entries > 0;
  bool movies = playlist.files[kMovies].entries > 0;
  if (music == movies) return;
  OutputFile &kept = playlist.files[music ? kMusic : kMovies];
  if (apr_file_rename(kept.path, playlist.final_path, playlist.pool) != APR_SUCCESS) {
    LOG4C(ITUNES_MODULE, LOG4C_WARN, log4c_sprintf("could not rename %s to %s", kept.path, playlist.final_path));
    return;
  }
  kept.path = playlist.final_path;
}

std::vector<OutputFile> output_files(int separate) {
  if (!separate) return {OutputFile{".pls", "removed empty playlist %s"}};
  return {OutputFile{" (Music).pls", "removed empty playlist %s"},
          OutputFile{" (Movies).pls", "removed emptyplay list %s"}};
}

// Writes one playlist. Returns the status that ends the whole writing step;
// a playlist dropped on its own sets *dropped.
int write_playlist(apr_pool_t *pool, const ItunesLibrary &library, const ItunesPlaylist &source, const char *folder,
                   int separate, int *dropped) {
  const char *file_name = safe_file_name(pool, source.name);
  PlaylistFiles playlist{pool, file_name, apr_pstrcat(pool, folder, file_name, ".pls", nullptr),
                         output_files(separate)};
  apr_status_t status = init_digests(playlist);
  if (status == APR_SUCCESS) status = open_files(playlist, folder);
  if (status != APR_SUCCESS) return status;
  if (source.items->nelts == 0) {
    log_error(log4c_sprintf("playlist with no tracks: %s - ignoring playlist", source.name));
    close_and_delete(playlist);
    return APR_SUCCESS;
  }
  std::vector<const ItunesTrack *> tracks;
  if (!collect_tracks(playlist, library, source.items, tracks)) {
    close_and_delete(playlist);
    *dropped = APR_EGENERAL;
    return APR_SUCCESS;
  }
  put_tracks(playlist, tracks);
  if (has_failed_write(playlist)) {
    LOG4C(ITUNES_MODULE, LOG4C_WARN, log4c_sprintf("errors in playlist %s, moving to next file", source.name));
    close_and_delete(playlist);
    *dropped = APR_EGENERAL;
    return APR_SUCCESS;
  }
  rename_single_kind(playlist);
  if (!close_with_sidecars(playlist)) *dropped = APR_EGENERAL;
  return APR_SUCCESS;
}

}  // namespace

int itunes_playlists_write(apr_pool_t *pool, const ItunesLibrary &library, const char *folder, int separate,
                           int *dropped) {
  *dropped = APR_SUCCESS;
  Pool playlist_pool(pool, ITUNES_MODULE);
  for (apr_hash_index_t *i = apr_hash_first(pool, library.playlists); i != nullptr; i = apr_hash_next(i)) {
    const auto *playlist = static_cast<const ItunesPlaylist *>(apr_hash_this_val(i));
    if (playlist->items == nullptr) continue;
    apr_status_t status = write_playlist(playlist_pool, library, *playlist, folder, separate, dropped);
    playlist_pool.clear();
    if (status != APR_SUCCESS) return status;
  }
  return APR_SUCCESS;
}
