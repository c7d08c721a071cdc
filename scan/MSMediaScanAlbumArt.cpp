// Album art: the fixed names, the album and GUID file names and the order in
// which candidates are tried. The images of a folder are listed once per
// scan, so a folder of twenty tracks costs one listing, not a look-up per
// track and candidate; a folder the walk got whole from its tree reader
// costs none.
#include "MSMediaScanAlbumArt.h"

#include <apr_file_info.h>
#include <apr_strings.h>
#include <strings.h>

#include <cstring>
#include <string_view>

#include "CommonAlbumArt.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "MSMediaScanLog.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr std::size_t kMaxFolderLength = 2047;

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

bool is_art_extension(const char *name) {
  const char *extension = path_extension(name, 0);
  return extension != nullptr && (strcasecmp(extension, "jpg") == 0 || strcasecmp(extension, "gif") == 0);
}

// What the cache holds of a folder: its jpg and gif files (lower-cased name
// -> name as stored) and the art already found there, by album and GUID
// (answer_key): the tracks of an album share it.
struct FolderArt {
  apr_hash_t *images;
  apr_hash_t *answers;  // answer_key -> AlbumArt, urls in the cache's pool
};

FolderArt *folder_art(apr_pool_t *pool, apr_hash_t *images) {
  auto *art = static_cast<FolderArt *>(apr_palloc(pool, sizeof(FolderArt)));
  *art = FolderArt{images, apr_hash_make(pool)};
  return art;
}

// Candidates are matched ignoring case, as the names are defined, whatever
// the file system does.
void add_image(apr_pool_t *pool, apr_hash_t *images, const char *name) {
  if (is_art_extension(name)) apr_hash_set(images, str_lower(pool, name), APR_HASH_KEY_STRING, apr_pstrdup(pool, name));
}

// The images of folder, read once per scan.
FolderArt *folder_images(apr_hash_t *cache, const char *folder) {
  if (void *known = apr_hash_get(cache, folder, APR_HASH_KEY_STRING)) return static_cast<FolderArt *>(known);
  apr_pool_t *pool = apr_hash_pool_get(cache);
  apr_hash_t *images = apr_hash_make(pool);
  Pool scratch(pool, MSMS_MODULE);
  apr_dir_t *dir = nullptr;
  if (apr_dir_open(&dir, folder, scratch) == APR_SUCCESS) {
    apr_finfo_t info;
    while (apr_dir_read(&info, APR_FINFO_NAME, dir) == APR_SUCCESS) add_image(pool, images, info.name);
    apr_dir_close(dir);
  }
  FolderArt *art = folder_art(pool, images);
  apr_hash_set(cache, apr_pstrdup(pool, folder), APR_HASH_KEY_STRING, art);
  return art;
}

// Sets *url to the candidate's url when the folder holds it; true when it did.
bool try_candidate(apr_pool_t *pool, apr_hash_t *cache, const char *folder, const char *name,
                   const char **url) {
  if (name == nullptr) return false;
  const auto *stored = static_cast<const char *>(
      apr_hash_get(folder_images(cache, folder)->images, str_lower(pool, name), APR_HASH_KEY_STRING));
  if (stored == nullptr) return false;
  *url = apr_pstrcat(pool, "file://", folder, stored, nullptr);
  return true;
}

bool found(const AlbumArt &art) { return art.large != nullptr || art.small != nullptr; }

void try_fixed_names(apr_pool_t *pool, apr_hash_t *cache, const char *folder, AlbumArt *art) {
  for (const AlbumArtNames &pair : ALBUM_ART_FIXED_NAMES) {
    try_candidate(pool, cache, folder, pair.large, &art->large);
    try_candidate(pool, cache, folder, pair.small, &art->small);
    if (found(*art)) return;
  }
}

}  // namespace

void msms_art_cache_fill(apr_hash_t *cache, const char *folder, const char *const *names, int count) {
  apr_pool_t *pool = apr_hash_pool_get(cache);
  const std::size_t length = std::strlen(folder);
  const char *key = length > 0 && folder[length - 1] == '/' ? folder : apr_pstrcat(pool, folder, "/", nullptr);
  if (apr_hash_get(cache, key, APR_HASH_KEY_STRING) != nullptr) return;
  apr_hash_t *images = apr_hash_make(pool);
  for (int i = 0; i < count; ++i) add_image(pool, images, names[i]);
  apr_hash_set(cache, apr_pstrdup(pool, key), APR_HASH_KEY_STRING, folder_art(pool, images));
}

bool msms_is_album_art(const char *name) {
  if (!is_art_extension(name)) return false;
  const bool jpg = strcasecmp(path_extension(name, 0), "jpg") == 0;
  if (jpg) {
    for (const char *prefix : kJpgPrefixes) {
      if (has_prefix(name, prefix)) return true;
    }
  }
  for (const AlbumArtNames &pair : ALBUM_ART_FIXED_NAMES) {
    if (strcasecmp(name, pair.large) == 0) return true;
    if (pair.small != nullptr && strcasecmp(name, pair.small) == 0) return true;
  }
  return false;
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

namespace {

// The art of folder for the album and GUID keys (either may be null).
AlbumArt find_in_folder(apr_pool_t *pool, apr_hash_t *cache, const char *folder, const char *album_key,
                        const char *guid_key) {
  AlbumArt art{nullptr, nullptr};
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

// Tells a missing key from an empty one and where the album key ends.
const char *answer_key(apr_pool_t *pool, const char *album_key, const char *guid_key) {
  return apr_psprintf(pool, "%c%" APR_SIZE_T_FMT ":%s%c%s", album_key != nullptr ? 'a' : '-',
                      album_key != nullptr ? std::strlen(album_key) : 0, album_key != nullptr ? album_key : "",
                      guid_key != nullptr ? 'g' : '-', guid_key != nullptr ? guid_key : "");
}

}  // namespace

AlbumArt msms_find_album_art(apr_pool_t *pool, apr_hash_t *cache, const char *path,
                             const char *album, const char *guid) {
  const char *folder = path_dirname(pool, path);
  if (folder[0] == '\0' || std::strlen(folder) >= kMaxFolderLength) {
    LOG4C(MSMS_MODULE, LOG4C_ERROR, log4c_sprintf("invalid file path %s", path));
    return AlbumArt{nullptr, nullptr};
  }
  const char *album_key = album != nullptr && album[0] != '\0' ? msms_album_key(pool, album) : nullptr;
  const char *guid_key = guid != nullptr && guid[0] != '\0' ? str_lower(pool, guid) : nullptr;
  apr_hash_t *answers = folder_images(cache, folder)->answers;
  const char *key = answer_key(pool, album_key, guid_key);
  // apr_pstrdup keeps a missing url missing.
  if (const auto *known = static_cast<const AlbumArt *>(apr_hash_get(answers, key, APR_HASH_KEY_STRING))) {
    return AlbumArt{apr_pstrdup(pool, known->large), apr_pstrdup(pool, known->small)};
  }
  const AlbumArt art = find_in_folder(pool, cache, folder, album_key, guid_key);
  apr_pool_t *own = apr_hash_pool_get(cache);
  auto *kept = static_cast<AlbumArt *>(apr_palloc(own, sizeof(AlbumArt)));
  *kept = AlbumArt{apr_pstrdup(own, art.large), apr_pstrdup(own, art.small)};
  apr_hash_set(answers, apr_pstrdup(own, key), APR_HASH_KEY_STRING, kept);
  return art;
}
