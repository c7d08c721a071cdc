// PlaycheckFilters: the decoders this machine offers, each as a registered
// filter: its long name, a class id of its own, the library file behind it
// and whether that file is present.
//
// The decoders are those of the installed ffmpeg (loaded through MSCommon's
// loader). A decoder's class id is a name-based UUID (SHA-1, version 5) of
// its short name, so it is the same on every run and machine. Its path is
// the default value of "CLSID\{class id}\InProcServer32" in the registry
// hive "HKEY_CLASSES_ROOT" of hive_folder when the hive holds one, else the
// shared library the decoder was loaded from. Everything lives in the
// caller's pool; one thread at a time.
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

struct PlaycheckFilter {
  const char *name;   // UTF-8
  const char *clsid;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  const char *path;   // null when no library file is known
  int exist;          // 1 when path names an existing file or folder
};

// The registry hive that may name the decoders' library files.
inline constexpr const char *PLAYCHECK_HIVE = "HKEY_CLASSES_ROOT";

// The decoders in the order ffmpeg lists them, as an array of
// PlaycheckFilter. Returns 0, or 20014 when ffmpeg cannot be loaded (its
// loader logs why).
int playcheck_filters(apr_pool_t *pool, const char *hive_folder, apr_array_header_t **filters);

// The class id of the decoder with short name name.
const char *playcheck_class_id(apr_pool_t *pool, const char *name);
