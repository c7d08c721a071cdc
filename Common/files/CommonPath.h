// CommonPath: canonical forms of paths and file URLs, and small path helpers
// (the URL tests are CommonUrl's).
//
// path_canonical gives the form under which the library stores and compares
// paths. On POSIX it keeps letter case and only '/' separates; the Windows
// rule (lower case, '\' as separator, UNC prefix) is kept behind the platform
// switch and can be asked for explicitly. Results live in the caller's pool;
// pointer results point into the argument. Stateless and re-entrant.
#pragma once

#include <apr_pools.h>

#include "CommonUrl.h"

enum PathRule : int {
  PATH_RULE_POSIX = 0,
  PATH_RULE_WINDOWS = 1,
#ifdef _WIN32
  PATH_RULE_NATIVE = PATH_RULE_WINDOWS,
#else
  PATH_RULE_NATIVE = PATH_RULE_POSIX,
#endif
};

// Whether c separates path components under the native rule: only '/' on
// POSIX, where a backslash is an ordinary character of a file name
// ("AC\DC - Back.mp3"); '/' and '\' on Windows.
bool path_is_separator(char c);

// path_canonical_rule with the native rule.
char *path_canonical(apr_pool_t *pool, const char *path);
// Resolves "." and ".." components, drops doubled and trailing separators
// (the "://" of a URL survives) and writes separators as '/'. A leading
// "file://" (any case) is kept as it is. The Windows rule also lower-cases
// letters, treats '\' as a separator and keeps a leading "\\". Null for null.
char *path_canonical_rule(apr_pool_t *pool, const char *path, PathRule rule);

// 1 for a URL, a "file://" text, a drive-letter path or a text starting with
// a separator; 0 for null or empty. Here and below, the separators are those
// of the native rule: only '/' on POSIX, '/' and '\' on Windows.
int path_is_absolute(const char *path);
// Text after the last run of separators that is followed by more text,
// looking no further than a '?'; the whole text when it has no separator.
const char *path_last_component(const char *path);
// Copy up to and including the separator before the last component (for a
// URL only the part after the host is searched); "" when there is none.
char *path_dirname(apr_pool_t *pool, const char *path);
// Pointer just after the last '.' of the last component, or null when it has
// none; with query set the search stops at '?' or '#'.
const char *path_extension(const char *path, int query);
// folder, subfolder and name joined with "/", leaving out an empty (or null)
// folder or subfolder; with both empty the current folder and name. Null
// after ERROR "Could not get default path".
char *path_join(apr_pool_t *pool, const char *folder, const char *subfolder, const char *name);
// Folder of the executable from argv[0] and the current folder (a bare
// program name, found on PATH, is asked of the platform); falls back to
// the current folder (WARN "Unable to locate executable path.") and then ""
// (ERROR "Unable to locate current working path."). argc 0 gives
// common_empty_string.
const char *exe_dir(apr_pool_t *pool, int argc, const char *const *argv);
