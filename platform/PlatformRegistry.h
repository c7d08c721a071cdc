// PlatformRegistry: a registry of keys and typed values, reached through key
// handles as on Windows: UTF-8 names, pools, APR-style statuses.
//
// On Linux each hive is one file in a folder the caller names; a key handle
// holds no file open. Every call reads the hive afresh; every change is a
// read-modify-write under an exclusive lock on "<hive>.lock" and replaces the
// hive file atomically, so that processes and threads sharing a hive never
// lose each other's changes and a crash leaves the previous content. A
// handle is closed when its pool goes. Logs I/O failures on "PlatformRegistry".
//
// Statuses: 0; 720000 + a Windows error code: 720002 key or value not found,
// 720005 access denied (no write access, or a key with sub-keys removed),
// 720006 a closed handle, 720087 a value of another type, 720161 a malformed
// key path, 721015 a hive file that cannot be parsed, 721016 a hive that
// cannot be read or written, 721018 a key deleted since it was opened;
// 17 key exists (REGKEY_EXCL), 22 not a multi-string (or a name that is not
// UTF-8), 38 name too long.
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

#include <cstddef>

inline constexpr int REGKEY_READ = 1;     // without it, only value queries
inline constexpr int REGKEY_WRITE = 2;    // values may be set and removed, sub-keys created
inline constexpr int REGKEY_CREATE = 4;   // create the key (and the keys above it) when missing
inline constexpr int REGKEY_EXCL = 0x40;  // with REGKEY_CREATE: 17 when the key existed

// Value types, numbered as on Windows.
inline constexpr int REGKEY_TYPE_NONE = 0;
inline constexpr int REGKEY_TYPE_STRING = 1;
inline constexpr int REGKEY_TYPE_EXPAND_STRING = 2;
inline constexpr int REGKEY_TYPE_BINARY = 3;
inline constexpr int REGKEY_TYPE_NUMBER = 4;  // 32-bit little-endian
inline constexpr int REGKEY_TYPE_MULTI_STRING = 7;

inline constexpr int REGKEY_ERROR_BASE = 720000;
inline constexpr int REGKEY_NOT_FOUND = REGKEY_ERROR_BASE + 2;
inline constexpr int REGKEY_ACCESS_DENIED = REGKEY_ERROR_BASE + 5;
inline constexpr int REGKEY_CLOSED = REGKEY_ERROR_BASE + 6;
inline constexpr int REGKEY_WRONG_TYPE = REGKEY_ERROR_BASE + 87;
inline constexpr int REGKEY_BAD_PATH = REGKEY_ERROR_BASE + 161;
inline constexpr int REGKEY_HIVE_CORRUPT = REGKEY_ERROR_BASE + 1015;
inline constexpr int REGKEY_HIVE_IO = REGKEY_ERROR_BASE + 1016;
inline constexpr int REGKEY_DELETED = REGKEY_ERROR_BASE + 1018;
inline constexpr int REGKEY_EXISTS = 17;
inline constexpr int REGKEY_INVALID = 22;  // not a multi-string, or a name that is not UTF-8
inline constexpr int REGKEY_NAME_TOO_LONG = 38;

// Names are converted into a buffer of this many UTF-16 units, NUL included.
inline constexpr std::size_t REGKEY_NAME_UNITS = 256;

struct RegKey;

// The root key of hive (a file name such as "HKEY_CLASSES_ROOT") in folder,
// with read and write access. A missing hive reads as empty; the folder and
// the file are created by the first change. Always 0 for a valid name, 22
// for a hive name that is empty or holds '/'.
int regkey_root_open(RegKey **key, const char *folder, const char *hive, apr_pool_t *pool);

// Opens the key name ("a\\b\\c", relative to parent; "" reopens parent) with
// the REGKEY_ flags. Creating needs write access to parent.
int regkey_open(RegKey **key, RegKey *parent, const char *name, int flags, apr_pool_t *pool);
// Closes the handle and cancels its pool clean-up. 0.
int regkey_close(RegKey *key);
// Deletes the key name below parent; refused (720005) while it has sub-keys.
int regkey_remove(RegKey *parent, const char *name);

// A string value as UTF-8 text in pool; an expandable string has each
// %NAME% replaced by the environment variable NAME (unknown names are kept).
// name null or "" is the key's default value.
int regkey_value_get(char **text, RegKey *key, const char *name, apr_pool_t *pool);
// Sets a string value (an expandable string when expand has bit 1 set).
int regkey_value_set(RegKey *key, const char *name, const char *text, int expand, apr_pool_t *pool);
// Any value's bytes (strings are stored as UTF-8 with their NUL) and type.
int regkey_value_raw_get(void **data, std::size_t *length, int *type, RegKey *key, const char *name,
                         apr_pool_t *pool);
int regkey_value_raw_set(RegKey *key, const char *name, const void *data, std::size_t length, int type,
                         apr_pool_t *pool);
// A multi-string value as an array of UTF-8 strings (const char *) in pool.
int regkey_value_array_get(apr_array_header_t **strings, RegKey *key, const char *name, apr_pool_t *pool);
int regkey_value_array_set(RegKey *key, const char *name, int count, const char *const *strings,
                           apr_pool_t *pool);
// Deletes a value; 720002 when there is none.
int regkey_value_remove(RegKey *key, const char *name, apr_pool_t *pool);
