// One file's turn in a walk: the file classified and its object looked up,
// the existing-object path (kept, brought up to date, or marked as replaced)
// and the creation path with the copy of the replaced object's parents and
// sources, ending in the filing into the views.
#include "MSMediaScanItem.h"

#include <apr_strings.h>

#include <cstring>

#include "CommonFiles.h"
#include "CommonMultimedia.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "MSDB.h"
#include "MSDBQuery.h"
#include "MSMediaScanAhead.h"
#include "MSMediaScanAlbumArt.h"
#include "MSMediaScanClassify.h"
#include "MSMediaScanItemProps.h"
#include "MSMediaScanItemTags.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanLookup.h"
#include "MSMediaScanUrl.h"
#include "MSMediaScanViews.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

enum class Existing { kept, ignored, replaced, failed };

// Per file: what the walk knows plus the decisions of the first steps.
struct FileWork {
  ItemSource item;
  const ClassifiedFile *file;
  const FileLookup *lookup;
};

void remember_video(FolderScan *folder, const char *path, const char *oid) {
  apr_hash_set(folder->videos, apr_pstrdup(folder->pool, path), APR_HASH_KEY_STRING, apr_pstrdup(folder->pool, oid));
}

const char *stored_value(const PropRows *stored, int slot) { return msdb_prop_rows_get(stored, slot, 0); }

bool has_folder(const PropRows *stored, const char *relative) {
  const int count = msdb_prop_rows_count(stored, PROP_ZENTORIA_FOLDER);
  for (int i = 0; i < count; ++i) {
    if (str_compare(msdb_prop_rows_get(stored, PROP_ZENTORIA_FOLDER, i), relative) == 0) return true;
  }
  return false;
}

// Recomputes an up-to-date track's art; *changed when it differs from the stored one.
int refresh_art(apr_pool_t *pool, const FileWork &work, const char *oid, const PropRows *stored, bool *changed) {
  const char *album = stored_value(stored, PROP_ZENTORIA_RAW_ALBUM);
  if (album == nullptr) album = stored_value(stored, PROP_UPNP_ALBUM);
  if (str_compare(album, "Unknown Album") == 0) album = nullptr;
  AlbumArt art = msms_find_album_art(pool, work.item.scan->art_cache, work.item.path, album,
                                     stored_value(stored, PROP_ZENTORIA_WMP_GUID));
  const char *large = art.large != nullptr ? art.large : "";
  const char *small = art.small != nullptr ? art.small : "";
  const char *old_large = stored_value(stored, PROP_ZENTORIA_ART_LARGE);
  const char *old_small = stored_value(stored, PROP_ZENTORIA_ART_SMALL);
  if (std::strcmp(large, old_large ? old_large : "") == 0 && std::strcmp(small, old_small ? old_small : "") == 0) {
    return APR_SUCCESS;
  }
  LOG4C(MSMS_MODULE, LOG4C_DEBUG,
        log4c_sprintf("Audio file up to date, but album art changed. Modifying. File: %s", work.item.path));
  *changed = true;
  MediaLibraryDB *db = work.item.scan->db;
  if (msdb_set_slot(pool, db, oid, PROP_ZENTORIA_ART_LARGE, large) != APR_SUCCESS ||
      msdb_set_slot(pool, db, oid, PROP_ZENTORIA_ART_SMALL, small) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

// props: the item's list when it was just stored, else null.
int reindex(apr_pool_t *pool, const ScanContext *scan, const char *oid, const char *item_class, PropList *props) {
  if (msms_index_object(pool, scan->library, oid, msms_index_class(item_class), props) == APR_SUCCESS) {
    return APR_SUCCESS;
  }
  return log4c_fail(MSMS_MODULE, log4c_sprintf("Could not index object %s", oid));
}

// The kind an existing object stands for: audio-or-video formats by its class.
int existing_class(const FileWork &work, const PropRows *stored, const char **item_class) {
  *item_class = stored_value(stored, PROP_UPNP_CLASS);
  const int media_class = work.item.type->media_class;
  if (media_class != MEDIA_AUDIO_OR_VIDEO) return media_class;
  return *item_class != nullptr && std::strncmp(*item_class, "object.item.video", 17) == 0 ? MEDIA_VIDEO : MEDIA_AUDIO;
}

Existing keep_up_to_date(apr_pool_t *pool, FileWork &work, FolderScan *folder, const char *oid, const PropRows *stored,
                         int media_class, const char *item_class, bool reindex_needed) {
  ScanContext *scan = work.item.scan;
  if (!has_folder(stored, work.item.relative)) {
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
  if (reindex_needed && reindex(pool, scan, oid, item_class, nullptr) != APR_SUCCESS) return Existing::failed;
  // The source's association with the object needs no check: the look-up
  // found the object among those the source holds.
  if (msdb_mark_object(pool, scan->db, oid, MSMS_MARK_SEEN) != APR_SUCCESS) return Existing::failed;
  scan->up_to_date[media_class]++;
  if (media_class == MEDIA_VIDEO) remember_video(folder, work.item.path, oid);
  return Existing::kept;
}

// rows: the object's checked properties, or null to read them here.
Existing check_existing(apr_pool_t *pool, FileWork &work, FolderScan *folder, const char *oid, const char *signature,
                        const PropRows *rows) {
  ScanContext *scan = work.item.scan;
  const PropRows *stored = nullptr;
  if (msms_checked_props(pool, scan, oid, rows, &stored) != APR_SUCCESS) return Existing::failed;
  const char *item_class = nullptr;
  const int media_class = existing_class(work, stored, &item_class);
  if (!msms_scan_wants(scan, media_class, work.file->album_art)) return Existing::ignored;
  bool rebuild = false;
  bool reindex_needed = false;
  if (msms_sync_tags(pool, scan, oid, stored, &rebuild, &reindex_needed) != APR_SUCCESS) return Existing::failed;
  if (!rebuild && str_compare(signature, work.file->signature) == 0) {
    return keep_up_to_date(pool, work, folder, oid, stored, media_class, item_class, reindex_needed);
  }
  if (msdb_mark_object(pool, scan->db, oid, MSMS_MARK_REPLACED) != APR_SUCCESS) return Existing::failed;
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
    return probed && cancel_requested(scan->cancel, scan->cancel_context) ? COMMON_CANCELLED : APR_SUCCESS;
  }
  *facts = own;
  return msms_inspect_file(pool, msms_inspect_request(scan, *work.file), scan->cancel, scan->cancel_context, own);
}

// Builds the new item's properties; *skip when the file's kind is not wanted.
int build_item(apr_pool_t *pool, FileWork &work, PropList **list, int *media_class, bool *skip) {
  ScanContext *scan = work.item.scan;
  *media_class = work.item.type->media_class;
  FileFacts own;
  const FileFacts *facts = nullptr;
  const int status = file_facts(pool, work, &own, &facts);
  if (status != APR_SUCCESS) return status;
  if (*media_class == MEDIA_IMAGE) {
    msms_image_item_props(pool, work.item, facts->image, list);
    return APR_SUCCESS;
  }
  msms_media_item_props(pool, work.item, *facts, list, media_class);
  *skip = !msms_scan_wants(scan, *media_class, false);
  return APR_SUCCESS;
}

int create_item(apr_pool_t *pool, FileWork &work, FolderScan *folder, const char *old_oid) {
  ScanContext *scan = work.item.scan;
  // A kind the source does not want is passed over before the file is
  // opened: every rescan meets it again (a folder's album art, for one).
  if (!work.file->wanted) return APR_SUCCESS;
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
  if (msdb_create_object(pool, scan->db, nullptr, scan->source_oid, work.file->signature, &oid) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not create object");
  }
  if (msdb_add_prop_list(pool, scan->db, oid, list) != APR_SUCCESS ||
      msms_store_tags(pool, scan, oid, list) != APR_SUCCESS ||
      msdb_mark_object(pool, scan->db, oid, MSMS_MARK_SEEN) != APR_SUCCESS) {
    return APR_EGENERAL;
  }
  if (reindex(pool, scan, oid, prop_get(pool, list, PROP_UPNP_CLASS, 0), list) != APR_SUCCESS) return APR_EGENERAL;
  if (old_oid != nullptr && msms_link_replacement(pool, scan->db, old_oid, oid) != APR_SUCCESS) return APR_EGENERAL;
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

// Steps after the name checks, in the file's own pool.
int process_media(apr_pool_t *pool, FileWork &work, FolderScan *folder) {
  ScanContext *scan = work.item.scan;
  FileLookup own;
  const FileLookup *lookup = work.lookup;
  if (lookup == nullptr || !lookup->found) {
    if (msms_find_file_object(pool, scan, work.item.url, &own) != APR_SUCCESS) {
      return log4c_fail(MSMS_MODULE, "Can't fetch object by its property");
    }
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

}  // namespace

int msms_process_file(ScanContext *scan, FolderScan *folder, const ScanFile *file, const FileLookup *lookup) {
  Pool pool(folder->pool, MSMS_MODULE);
  // A file looked up ahead was classified then, by the same rules.
  const ClassifiedFile classified = lookup != nullptr && lookup->classified != nullptr
                                        ? *lookup->classified
                                        : msms_classify_file(pool, scan, folder, file);
  if (scan->playlists_only) {
    if (classified.skip != FileSkip::playlist) return APR_SUCCESS;
    return msms_scan_playlist_file(pool, scan, classified.path, classified.url, classified.type, classified.signature);
  }
  switch (classified.skip) {
    case FileSkip::no_extension:
      LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Cannot process files without extension, ignoring file %s\n", file->name));
      return APR_SUCCESS;
    case FileSkip::empty:
      LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Ignoring file of size zero %s\n", file->name));
      return APR_SUCCESS;
    default: break;
  }
  if (scan->print) msms_print_progress(pool, file->name);
  // Every file's turn comes here: the message is formatted only when wanted.
  if (log4c_is_enabled[LOG4C_DEBUG](MSMS_MODULE)) {
    LOG4C(MSMS_MODULE, LOG4C_DEBUG,
          log4c_sprintf("Processing %s from folder %s/%s", file->name, scan->root, folder->relative));
  }
  switch (classified.skip) {
    case FileSkip::subtitle: note_subtitle(folder, file->name); return APR_SUCCESS;
    case FileSkip::unknown_format:
      LOG4C(MSMS_MODULE, LOG4C_DEBUG, log4c_sprintf("Unknown file format %s, ignoring file...\n", file->name));
      return APR_SUCCESS;
    case FileSkip::playlist:
      return msms_scan_playlist_file(pool, scan, classified.path, classified.url, classified.type, classified.signature);
    default: break;
  }
  FileWork work{{scan, file, classified.relative, classified.path, classified.url, classified.extension, classified.type},
                &classified,
                lookup};
  return process_media(pool, work, folder);
}
