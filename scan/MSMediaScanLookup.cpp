// Which object holds a file's url, and what it held.
#include "MSMediaScanLookup.h"

#include <cstring>
#include <new>

#include "CommonText.h"
#include "MSDBGraph.h"
#include "MSDBObjectSources.h"
#include "MSDBQuery.h"
#include "MSMediaScanAhead.h"
#include "MSMediaScanClassify.h"
#include "MSMediaScanLog.h"
#include "MSMediaScanPrefetch.h"

namespace {

bool held_by(apr_pool_t *pool, const ScanContext *scan, const char *oid) {
  const char *sources[16];
  int count = 16;
  if (msdb_get_object_sources(pool, scan->db, oid, sources, &count) != APR_SUCCESS) return false;
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(sources[i], scan->source_oid) == 0) return true;
  }
  return false;
}

// Whether the file's turn will inspect it: a wanted kind without an object,
// or whose object's signature differs. An object whose tags the source no
// longer lists is rebuilt as well, which only its turn finds out (and then
// inspects there); so may an audio-or-video object of a kind not wanted.
bool will_inspect(const ClassifiedFile &file, const FileLookup &lookup) {
  return file.wanted && (lookup.oid == nullptr || str_compare(lookup.signature, file.signature) != 0);
}

}  // namespace

// The look-up by value alone follows the property index; limited to a
// source, the query walks every object of the source, which made a scan
// quadratic in the size of the source. The newest object of the whole
// library is also the source's newest when the source holds it; only a file
// shared by two sources needs the slow form. A file in the tree the walk
// looked up ahead needs no statement at all.
int msms_find_file_object(apr_pool_t *pool, const ScanContext *scan, const char *url, FileLookup *lookup) {
  bool held = false;
  *lookup = FileLookup{};
  if (scan->prefetch == nullptr ||
      !msms_prefetch_find(scan->prefetch, url, &lookup->oid, &lookup->signature, &lookup->stored, &held)) {
    if (msdb_find_newest_by_value(pool, scan->db, "res", url, nullptr, &lookup->oid, &lookup->signature) !=
        APR_SUCCESS) {
      return APR_EGENERAL;
    }
    held = lookup->oid != nullptr && held_by(pool, scan, lookup->oid);
  }
  lookup->found = true;
  if (lookup->oid == nullptr || held) return APR_SUCCESS;
  lookup->stored = nullptr;
  return msdb_find_newest_by_value(pool, scan->db, "res", url, scan->source_oid, &lookup->oid, &lookup->signature);
}

int msms_checked_props(apr_pool_t *pool, const ScanContext *scan, const char *oid, const PropRows *rows,
                       const PropRows **stored) {
  if (rows == nullptr) {
    apr_hash_t *found = nullptr;
    if (msms_fetch_checked_props(pool, scan->db, &oid, 1, &found) != APR_SUCCESS) return APR_EGENERAL;
    rows = static_cast<const PropRows *>(apr_hash_get(found, oid, APR_HASH_KEY_STRING));
  }
  *stored = rows;
  return APR_SUCCESS;
}

void msms_look_up_ahead(apr_pool_t *pool, ScanContext *scan, const FolderScan *folder, const ScanFile *file,
                        FileLookup *lookup) {
  *lookup = FileLookup{};
  const ClassifiedFile classified = msms_classify_file(pool, scan, folder, file);
  if (classified.skip != FileSkip::none) return;
  if (msms_find_file_object(pool, scan, classified.url, lookup) != APR_SUCCESS) {
    *lookup = FileLookup{};
    return;
  }
  lookup->classified = new (apr_palloc(pool, sizeof(ClassifiedFile))) ClassifiedFile(classified);
  if (scan->ahead != nullptr && will_inspect(classified, *lookup)) {
    lookup->job = msms_ahead_submit(scan->ahead, msms_inspect_request(scan, classified));
  }
}

int msms_link_replacement(apr_pool_t *pool, MediaLibraryDB *db, const char *old_oid, const char *oid) {
  if (msdb_copy_parents(pool, db, old_oid, oid) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not copy parents from old to new object");
  }
  if (msdb_copy_object_sources(pool, db, old_oid, oid) != APR_SUCCESS) {
    return log4c_fail(MSMS_MODULE, "Could not copy media sources from old to new object");
  }
  return APR_SUCCESS;
}
