// Album art: the fixed names, the album and GUID file names and the order in
// which candidates are tried. A candidate's existence is remembered for the
// whole scan, so a folder of twenty tracks costs one disk look-up per name.
#include "MSMediaScanAlbumArt.h"

#include <apr_strings.h>
#include <strings.h>

#include <cstring>
#include <string_view>

#include "CommonFiles.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "MSMediaScanState.h"
#include "log4c.h"

namespace {

constexpr std::size_t kMaxFolderLength = 2047;

struct ArtPair {
  const char *large;
  const char *small;
};

constexpr ArtPair kFixedNames[] = {
    {"folder.jpg", "albumartsmall.jpg"},
    {"folder.gif", "albumartsmall.gif"},
    {"cover.jpg", nullptr},
    {"album.jpg", nullptr},
    {"album.gif", nullptr},
    {"thumb.jpg", nullptr},
    {"thumb.gif", nullptr},
};

// Prefixes that make a jpg album art whatever follows.
constexpr const char *kJpgPrefixes[] = {"albumart.", "albumartsmall.", "albumart_{"};

struct KeyReplacement {
  char from;
  char to;
};

constexpr KeyReplacement kKeyReplacements[] = {
    {'"', '\''}, {'*', '_'}, {'?', '_'}, {'|', '_'}, {'/', '-'},
    {':', '-'},  {'\\', '-'}, {'<', '('}, {'>', ')'},
};

bool has_prefix(const char *name, const char *prefix) {
  return strncasecmp(name, prefix, std::strlen(prefix)) == 0;
}

bool exists_cached(apr_hash_t *cache, const char *path) {
  if (const void *known = apr_hash_get(cache, path, APR_HASH_KEY_STRING)) {
    return std::strcmp(static_cast<const char *>(known), "1") == 0;
  }
  const bool exists = file_exists(path) != 0;
  apr_hash_set(cache, apr_pstrdup(apr_hash_pool_get(cache), path), APR_HASH_KEY_STRING,
               exists ? "1" : "0");
  return exists;
}

// Sets *url to the candidate's url when the file exists; true when it did.
bool try_candidate(apr_pool_t *pool, apr_hash_t *cache, const char *folder, const char *name,
                   const char **url) {
  if (name == nullptr) return false;
  const char *path = apr_pstrcat(pool, folder, name, nullptr);
  if (!exists_cached(cache, path)) return false;
  *url = apr_pstrcat(pool, "file://", path, nullptr);
  return true;
}

bool found(const AlbumArt &art) { return art.large != nullptr || art.small != nullptr; }

void try_fixed_names(apr_pool_t *pool, apr_hash_t *cache, const char *folder, AlbumArt *art) {
  for (const ArtPair &pair : kFixedNames) {
    try_candidate(pool, cache, folder, pair.large, &art->large);
    try_candidate(pool, cache, folder, pair.small, &art->small);
    if (found(*art)) return;
  }
}

}  // namespace

bool msms_is_album_art(const char *name) {
  const char *extension = path_extension(name, 0);
  if (extension == nullptr) return false;
  const bool jpg = strcasecmp(extension, "jpg") == 0;
  if (!jpg && strcasecmp(extension, "gif") != 0) return false;
  if (jpg) {
    for (const char *prefix : kJpgPrefixes) {
      if (has_prefix(name, prefix)) return true;
    }
  }
  for (const ArtPair &pair : kFixedNames) {
    if (strcasecmp(name, pair.large) == 0) return true;
    if (pair.small != nullptr && strcasecmp(name, pair.small) == 0) return true;
  }
  return false;
}

void msms_art_cache_note(apr_hash_t *cache, const char *path) {
  apr_hash_set(cache, apr_pstrdup(apr_hash_pool_get(cache), path), APR_HASH_KEY_STRING, "1");
}

const char *msms_album_key(apr_pool_t *pool, const char *album) {
  char *key = apr_pstrdup(pool, album);
  for (char *c = key; *c != '\0'; ++c) {
    bool replaced = false;
    for (const KeyReplacement &r : kKeyReplacements) {
      if (*c == r.from) {
        *c = r.to;
        replaced = true;
        break;
      }
    }
    if (!replaced && *c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  return key;
}

AlbumArt msms_find_album_art(apr_pool_t *pool, apr_hash_t *cache, const char *path,
                             const char *album, const char *guid) {
  AlbumArt art{nullptr, nullptr};
  const char *folder = path_dirname(pool, path);
  if (folder[0] == '\0' || std::strlen(folder) >= kMaxFolderLength) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("invalid file path %s", path));
    return art;
  }
  const char *album_key = album != nullptr && album[0] != '\0' ? msms_album_key(pool, album) : nullptr;
  const char *guid_key = guid != nullptr && guid[0] != '\0' ? str_lower(pool, guid) : nullptr;
  if (album_key != nullptr) {
    try_candidate(pool, cache, folder, apr_psprintf(pool, "albumart.%s.jpg", album_key), &art.large);
    try_candidate(pool, cache, folder, apr_psprintf(pool, "albumartsmall.%s.jpg", album_key), &art.small);
  }
  if (!found(art) && guid_key != nullptr) {
    try_candidate(pool, cache, folder, apr_psprintf(pool, "albumart_{%s}_large.jpg", guid_key), &art.large);
    try_candidate(pool, cache, folder, apr_psprintf(pool, "albumart_{%s}_small.jpg", guid_key), &art.small);
  }
  if (!found(art) && album_key != nullptr &&
      !try_candidate(pool, cache, folder, apr_psprintf(pool, "%s.jpg", album_key), &art.large)) {
    try_candidate(pool, cache, folder, apr_psprintf(pool, "%s.gif", album_key), &art.large);
  }
  if (!found(art)) try_fixed_names(pool, cache, folder, &art);
  return art;
}
