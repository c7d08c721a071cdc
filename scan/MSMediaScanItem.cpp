// One file of a walk: classification, the existing-object path (kept, brought
// up to date, or marked as replaced) and the creation path with the copy of
// the replaced object's parents and sources.
#include "MSMediaScanItem.h"

#include <apr_strings.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "CommonFiles.h"
#include "CommonMultimedia.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "MSDB.h"
#include "MSDBQuery.h"
#include "MSMediaScanAhead.h"
#include "MSMediaScanAlbumArt.h"
#include "MSMediaScanItemProps.h"
#include "MSMediaScanItemTags.h"
#include "MSMediaScanPrefetch.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanViews.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr int kSeenFlag = 2;
constexpr int kReplacedFlag = 1;

enum class Existing { kept, ignored, replaced, failed };

bool wants(const ScanContext *scan, int media_class) {
  switch (media_class) {
    case MEDIA_VIDEO: return scan->lookfor_video != 0;
    case MEDIA_AUDIO: return scan->lookfor_audio != 0;
    case MEDIA_AUDIO_OR_VIDEO: return scan->lookfor_audio != 0 || scan->lookfor_video != 0;
    case MEDIA_IMAGE: return scan->lookfor_photo != 0;
    default: return true;
  }
}

bool is_scanned_class(int media_class) {
  return media_class == MEDIA_VIDEO || media_class == MEDIA_AUDIO || media_class == MEDIA_AUDIO_OR_VIDEO ||
         media_class == MEDIA_IMAGE || media_class == MEDIA_METAFILE;
}

// Per file: what the walk knows plus the decisions of the first steps.
struct FileWork {
  ItemSource item;
  bool album_art;
  const char *mtime;  // the signature
  const FileLookup *lookup;
};

// The work of a file that passed the name checks, in pool.
FileWork file_work(apr_pool_t *pool, ScanContext *scan, const FolderScan *folder, const ScanFile *file,
                   const char *extension, const MediaTypeEntry *type, const FileLookup *lookup) {
  const char *relative = folder->relative[0] != '\0' ? folder->relative : "/";
  const char *path = path_canonical(pool, apr_pstrcat(pool, scan->root, "/", folder->relative, "/", file->name, nullptr));
  FileWork work{{scan, file, relative, path, apr_pstrcat(pool, "file://", path, nullptr), extension, type},
                false,
                apr_psprintf(pool, "%" APR_INT64_T_FMT, static_cast<apr_int64_t>(file->mtime)),
                lookup};
  if (type->media_class == MEDIA_IMAGE &&
      ((scan->lookfor_photo && !scan->allow_album_art_as_photo) || scan->handle_album_art) &&
      msms_is_album_art(file->name)) {
    work.album_art = true;
  }
  return work;
}

InspectRequest inspect_request(const FileWork &work) {
  return InspectRequest{work.item.path, work.item.extension, work.item.type->media_class,
                        work.item.scan->read_avi_tags != 0};
}

// An album-art picture is no photo unless the configuration says so.
bool unwanted_art(const FileWork &work) {
  return work.item.type->media_class == MEDIA_IMAGE && work.album_art && !work.item.scan->allow_album_art_as_photo;
}

void remember_video(FolderScan *folder, const char *path, const char *oid) {
  apr_hash_set(folder->videos, apr_pstrdup(folder->pool, path), APR_HASH_KEY_STRING, apr_pstrdup(folder->pool, oid));
}

const char *stored_value(apr_pool_t *pool, PropList *stored, int slot) {
  return prop_count(stored, slot) > 0 ? prop_get(pool, stored, slot, 0) : nullptr;
}

bool has_folder(apr_pool_t *pool, PropList *stored, const char *relative) {
  const int count = prop_count(stored, PROP_ZENTORIA_FOLDER);
  for (int i = 0; i < count; ++i) {
    if (str_compare(prop_get(pool, stored, PROP_ZENTORIA_FOLDER, i), relative) == 0) return true;
  }
  return false;
}

// Recomputes an up-to-date track's art; *changed when it differs from the stored one.
int refresh_art(apr_pool_t *pool, const FileWork &work, const char *oid, PropList *stored, bool *changed) {
  const char *album = stored_value(pool, stored, PROP_ZENTORIA_RAW_ALBUM);
  if (album == nullptr) album = stored_value(pool, stored, PROP_UPNP_ALBUM);
  if (str_compare(album, "Unknown Album") == 0) album = nullptr;
  AlbumArt art = msms_find_album_art(pool, work.item.scan->art_cache, work.item.path, album,
                                     stored_value(pool, stored, PROP_ZENTORIA_WMP_GUID));
  const char *large = art.large != nullptr ? art.large : "";
  const char *small = art.small != nullptr ? art.small : "";
  const char *old_large = stored_value(pool, stored, PROP_ZENTORIA_ART_LARGE);
  const char *old_small = stored_value(pool, stored, PROP_ZENTORIA_ART_SMALL);
  if (std::strcmp(large, old_large ? old_large : "") == 0 && std::strcmp(small, old_small ? old_small : "") == 0) {
    return APR_SUCCESS;
  }
  LOG4C(MSMS_MODULE, LOG4C_DEBUG,
        log4c_sprintf("Audio file up to date, but album art changed. Modifying. File: %s", work.item.path));
  *changed = true;
  MediaLibraryDB *db = work.item.scan->db;
  if (msdb_set_prop(pool, db, nullptr, oid, PROP_ZENTORIA_ART_LARGE, nullptr, large, nullptr) != APR_SUCCESS ||
      msdb_set_prop(pool, db, nullptr, oid, PROP_ZENTORIA_ART_SMALL, nullptr, small, nullptr) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

int reindex(apr_pool_t *pool, const ScanContext *scan, const char *oid, const char *item_class) {
  if (msms_index_object(pool, scan->library, oid, msms_index_class(item_class)) == APR_SUCCESS) return APR_SUCCESS;
  return msms_fail(log4c_sprintf("Could not index object %s", oid));
}

// The kind an existing object stands for: audio-or-video formats by its class.
int existing_class(apr_pool_t *pool, const FileWork &work, PropList *stored, const char **item_class) {
  *item_class = stored_value(pool, stored, PROP_UPNP_CLASS);
  const int media_class = work.item.type->media_class;
  if (media_class != MEDIA_AUDIO_OR_VIDEO) return media_class;
  return *item_class != nullptr && std::strncmp(*item_class, "object.item.video", 17) == 0 ? MEDIA_VIDEO : MEDIA_AUDIO;
}

Existing keep_up_to_date(apr_pool_t *pool, FileWork &work, FolderScan *folder, const char *oid, PropList *stored,
                         int media_class, const char *item_class, bool reindex_needed) {
  ScanContext *scan = work.item.scan;
  if (!has_folder(pool, stored, work.item.relative)) {
    if (msdb_add_prop(pool, scan->db, nullptr, oid, PROP_ZENTORIA_FOLDER, nullptr, work.item.relative, nullptr) !=
        APR_SUCCESS) {
      return Existing::failed;
    }
    reindex_needed = true;
  }
  if (media_class == MEDIA_AUDIO && scan->handle_album_art &&
      refresh_art(pool, work, oid, stored, &reindex_needed) != APR_SUCCESS) {
    return Existing::failed;
  }
  if (reindex_needed && reindex(pool, scan, oid, item_class) != APR_SUCCESS) return Existing::failed;
  // The source's association with the object needs no check: the look-up
  // found the object among those the source holds.
  if (msdb_mark_object(pool, scan->db, oid, kSeenFlag) != APR_SUCCESS) return Existing::failed;
  scan->up_to_date[media_class]++;
  if (media_class == MEDIA_VIDEO) remember_video(folder, work.item.path, oid);
  return Existing::kept;
}

// rows: the object's checked properties, or null to read them here.
Existing check_existing(apr_pool_t *pool, FileWork &work, FolderScan *folder, const char *oid, const char *signature,
                        const PropRows *rows) {
  ScanContext *scan = work.item.scan;
  if (rows == nullptr) {
    apr_hash_t *found = nullptr;
    if (msms_fetch_checked_props(pool, scan->db, &oid, 1, &found) != APR_SUCCESS) return Existing::failed;
    rows = static_cast<const PropRows *>(apr_hash_get(found, oid, APR_HASH_KEY_STRING));
  }
  PropList *stored = msdb_prop_rows_list(pool, rows);
  const char *item_class = nullptr;
  const int media_class = existing_class(pool, work, stored, &item_class);
  if (!wants(scan, media_class) || unwanted_art(work)) return Existing::ignored;
  bool rebuild = false;
  bool reindex_needed = false;
  if (msms_sync_tags(pool, scan, oid, stored, &rebuild, &reindex_needed) != APR_SUCCESS) return Existing::failed;
  if (!rebuild && str_compare(signature, work.mtime) == 0) {
    return keep_up_to_date(pool, work, folder, oid, stored, media_class, item_class, reindex_needed);
  }
  if (msdb_mark_object(pool, scan->db, oid, kReplacedFlag) != APR_SUCCESS) return Existing::failed;
  return Existing::replaced;
}

// The facts inspected ahead when there are any, else those of an inspection
// now (in own). Returns 0, or 4 when cancelled.
int file_facts(apr_pool_t *pool, const FileWork &work, FileFacts *own, const FileFacts **facts) {
  ScanContext *scan = work.item.scan;
  AheadJob *job = work.lookup != nullptr ? work.lookup->job : nullptr;
  if (job != nullptr && (*facts = msms_ahead_take(scan->ahead, job)) != nullptr) {
    // The probe polls the cancel check once it has read the streams; the
    // worker never calls the check, so the poll happens here.
    const bool probed = work.item.type->media_class != MEDIA_IMAGE;
    return probed && scan->cancel != nullptr && scan->cancel(scan->cancel_context) ? 4 : APR_SUCCESS;
  }
  *facts = own;
  return msms_ahead_inspect_here(scan->ahead, pool, inspect_request(work), scan->cancel, scan->cancel_context, own);
}

// Builds the new item's properties; *skip when the file's kind is not wanted.
int build_item(apr_pool_t *pool, FileWork &work, PropList **list, int *media_class, bool *skip) {
  ScanContext *scan = work.item.scan;
  *media_class = work.item.type->media_class;
  *skip = !wants(scan, *media_class) || unwanted_art(work);
  if (*skip) return APR_SUCCESS;
  FileFacts own;
  const FileFacts *facts = nullptr;
  const int status = file_facts(pool, work, &own, &facts);
  if (status != APR_SUCCESS) return status;
  if (*media_class == MEDIA_IMAGE) {
    msms_image_item_props(pool, work.item, facts->image, list);
    return APR_SUCCESS;
  }
  msms_media_item_props(pool, work.item, *facts, list, media_class);
  *skip = !wants(scan, *media_class);
  return APR_SUCCESS;
}

int link_replacement(apr_pool_t *pool, MediaLibraryDB *db, const char *old_oid, const char *oid) {
  if (msdb_copy_parents(pool, db, old_oid, oid) != APR_SUCCESS) {
    return msms_fail("Could not copy parents from old to new object");
  }
  if (msdb_copy_object_sources(pool, db, old_oid, oid) != APR_SUCCESS) {
    return msms_fail("Could not copy media sources from old to new object");
  }
  return APR_SUCCESS;
}

int create_item(apr_pool_t *pool, FileWork &work, FolderScan *folder, const char *old_oid) {
  ScanContext *scan = work.item.scan;
  // An item made of a file nobody may read would keep its empty facts after
  // the permissions are mended, since that does not change its signature.
  if (!file_exists(work.item.path)) {
    LOG4C(MSMS_MODULE, LOG4C_WARN, log4c_sprintf("Could not read %s, skipping...", work.item.path));
    return APR_SUCCESS;
  }
  PropList *list = nullptr;
  int media_class = 0;
  bool skip = false;
  int status = build_item(pool, work, &list, &media_class, &skip);
  if (status != APR_SUCCESS || skip) return status;
  const char *oid = nullptr;
  if (msdb_create_object(pool, scan->db, nullptr, scan->source_oid, work.mtime, &oid) != APR_SUCCESS) {
    return msms_fail("Could not create object");
  }
  if (msdb_add_prop_list(pool, scan->db, oid, list) != APR_SUCCESS ||
      msms_store_tags(pool, scan, oid) != APR_SUCCESS ||
      msdb_mark_object(pool, scan->db, oid, kSeenFlag) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (reindex(pool, scan, oid, prop_get(pool, list, PROP_UPNP_CLASS, 0)) != APR_SUCCESS) return APR_EGENERAL;
  if (old_oid != nullptr && link_replacement(pool, scan->db, old_oid, oid) != APR_SUCCESS) return APR_EGENERAL;
  scan->created[media_class]++;
  scan->up_to_date[media_class]++;
  if (media_class == MEDIA_VIDEO) remember_video(folder, work.item.path, oid);
  return APR_SUCCESS;
}

void note_subtitle(FolderScan *folder, const char *name) {
  const bool table = folder->subtitles != nullptr;
  LOG4C(MSMS_MODULE, LOG4C_DEBUG,
        log4c_sprintf("found srt file - %s - %s", name, table ? "adding to hash" : "ignoring, no hash found"));
  if (table) apr_hash_set(folder->subtitles, apr_pstrdup(folder->pool, name), APR_HASH_KEY_STRING, "auto");
}

bool held_by(apr_pool_t *pool, const ScanContext *scan, const char *oid) {
  const char *sources[16];
  int count = 16;
  if (msdb_get_object_sources(pool, scan->db, oid, sources, &count) != APR_SUCCESS) return false;
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(sources[i], scan->source_oid) == 0) return true;
  }
  return false;
}

// The source's newest object for url. The look-up by value alone follows
// the property index; limited to a source, the query walks every object of
// the source, which made a scan quadratic in the size of the source. The
// newest object of the whole library is also the source's newest when the
// source holds it; only a file shared by two sources needs the slow form.
// A file in the tree the walk looked up ahead needs no statement at all.
int find_existing(apr_pool_t *pool, const ScanContext *scan, const char *url, FileLookup *lookup) {
  const char *names[] = {"res"};
  const char *values[] = {url};
  bool held = false;
  *lookup = FileLookup{};
  if (scan->prefetch == nullptr ||
      !msms_prefetch_find(scan->prefetch, url, &lookup->oid, &lookup->signature, &lookup->stored, &held)) {
    if (msdb_find_object(pool, scan->db, nullptr, 0, 1, 1, names, values, 0, nullptr, &lookup->oid,
                         &lookup->signature) != APR_SUCCESS) {
      return APR_EGENERAL;
    }
    held = lookup->oid != nullptr && held_by(pool, scan, lookup->oid);
  }
  lookup->found = true;
  if (lookup->oid == nullptr || held) return APR_SUCCESS;
  lookup->stored = nullptr;
  return msdb_find_object(pool, scan->db, nullptr, 0, 1, 1, names, values, 0, scan->source_oid, &lookup->oid,
                          &lookup->signature);
}

// Steps after the name checks, in the file's own pool.
int process_media(apr_pool_t *pool, FileWork &work, FolderScan *folder) {
  ScanContext *scan = work.item.scan;
  const int media_class = work.item.type->media_class;
  if (media_class == MEDIA_METAFILE) {
    LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Playlist files are not read yet, ignoring file %s", work.item.path));
    return APR_SUCCESS;
  }
  FileLookup own;
  const FileLookup *lookup = work.lookup;
  if (lookup == nullptr || !lookup->found) {
    if (find_existing(pool, scan, work.item.url, &own) != APR_SUCCESS) return msms_fail("Can't fetch object by its property");
    lookup = &own;
  }
  const char *old_oid = lookup->oid;
  if (old_oid != nullptr) {
    switch (check_existing(pool, work, folder, old_oid, lookup->signature, lookup->stored)) {
      case Existing::kept:
      case Existing::ignored: return APR_SUCCESS;
      case Existing::failed: return APR_EGENERAL;
      case Existing::replaced: break;
    }
  }
  return create_item(pool, work, folder, old_oid);
}

// The type of a file whose object its turn looks up; null for a file the
// turn passes over by its name or size.
const MediaTypeEntry *looked_up_type(const ScanFile *file, const char **extension) {
  *extension = path_extension(file->name, 0);
  if (*extension == nullptr || (*extension)[0] == '\0' || file->size <= 0 || strcasecmp(*extension, "srt") == 0) {
    return nullptr;
  }
  const MediaTypeEntry *type = media_type_by_extension(*extension, -1);
  return is_scanned_class(type->media_class) && type->media_class != MEDIA_METAFILE ? type : nullptr;
}

// Whether the file's turn will inspect it: a wanted kind without an object,
// or whose object's signature differs. An object whose tags the source no
// longer lists is rebuilt as well, which only its turn finds out (and then
// inspects there); so may an audio-or-video object of a kind not wanted.
bool will_inspect(const FileWork &work, const char *oid, const char *signature) {
  if (!wants(work.item.scan, work.item.type->media_class) || unwanted_art(work)) return false;
  return oid == nullptr || str_compare(signature, work.mtime) != 0;
}

}  // namespace

int msms_process_file(ScanContext *scan, FolderScan *folder, const ScanFile *file, const FileLookup *lookup) {
  const char *extension = path_extension(file->name, 0);
  if (extension == nullptr || extension[0] == '\0') {
    LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Cannot process files without extension, ignoring file %s\n", file->name));
    return APR_SUCCESS;
  }
  if (file->size <= 0) {
    LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Ignoring file of size zero %s\n", file->name));
    return APR_SUCCESS;
  }
  if (scan->print) std::printf("\r%-79.79s", file->name);
  LOG4C(MSMS_MODULE, LOG4C_DEBUG,
        log4c_sprintf("Processing %s from folder %s/%s", file->name, scan->root, folder->relative));
  if (strcasecmp(extension, "srt") == 0) {
    note_subtitle(folder, file->name);
    return APR_SUCCESS;
  }
  const MediaTypeEntry *type = media_type_by_extension(extension, -1);
  if (!is_scanned_class(type->media_class)) {
    LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Unknown file format %s, ignoring file...\n", file->name));
    return APR_SUCCESS;
  }
  Pool pool(folder->pool, MSMS_MODULE);
  FileWork work = file_work(pool, scan, folder, file, extension, type, lookup);
  return process_media(pool, work, folder);
}

void msms_look_up_ahead(apr_pool_t *pool, ScanContext *scan, const FolderScan *folder, const ScanFile *file,
                        FileLookup *lookup) {
  *lookup = FileLookup{};
  const char *extension = nullptr;
  const MediaTypeEntry *type = looked_up_type(file, &extension);
  if (type == nullptr) return;
  const FileWork work = file_work(pool, scan, folder, file, extension, type, nullptr);
  if (find_existing(pool, scan, work.item.url, lookup) != APR_SUCCESS) {
    *lookup = FileLookup{};
    return;
  }
  if (scan->ahead != nullptr && will_inspect(work, lookup->oid, lookup->signature)) {
    lookup->job = msms_ahead_submit(scan->ahead, inspect_request(work));
  }
}
