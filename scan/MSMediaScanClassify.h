// MSMediaScanClassify: what a walked file is to the scan, decided in one
// step for both the look-ahead and the file's turn: why it is passed over,
// else its media type, whether it is album art, whether the source wants
// its kind, and its canonical path, url and signature.
//
// Reads only the file's name, size and time and the scan's settings; texts
// go to the pool passed. Runs on the scan's thread.
#pragma once

#include <apr_pools.h>

#include "CommonMultimedia.h"
#include "MSMediaScanContext.h"
#include "MSMediaScanInspect.h"

// Why a file is passed over before its object is looked up.
enum class FileSkip {
  none,
  no_extension,
  empty,
  subtitle,        // a ".srt" file: paired with its video when the folder is done
  unknown_format,  // no media type the scan reads
  playlist,        // a playlist format, not read yet
};

struct ClassifiedFile {
  FileSkip skip;
  const char *extension;       // as in the name; null when it has none
  const MediaTypeEntry *type;  // set unless skip is no_extension, empty or subtitle
  bool album_art;              // an image named as album art, while album art matters to the scan
  bool wanted;                 // the source wants the extension's kind (album art as a photo only if allowed)
  // Set when type is:
  const char *relative;   // the folder below the source root, "/" for the root
  const char *path;       // canonical full path
  const char *url;        // "file://" + path
  const char *signature;  // the modification time, as objects keep it
};

ClassifiedFile msms_classify_file(apr_pool_t *pool, const ScanContext *scan, const FolderScan *folder,
                                  const ScanFile *file);

// Whether a file named name is a playlist by its extension.
bool msms_is_playlist_name(const char *name);

// Whether the scan takes an item of media_class; album_art: an image named
// as album art, which is no photo unless the configuration says so.
bool msms_scan_wants(const ScanContext *scan, int media_class, bool album_art);

// The inspection of a classified file (skip none); texts are the file's.
InspectRequest msms_inspect_request(const ScanContext *scan, const ClassifiedFile &file);
