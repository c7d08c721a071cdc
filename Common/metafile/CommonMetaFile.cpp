// The front of the metafile reader: which formats are read, which reader a
// file goes to, and the module state set up at start-up.
#include <apr_strings.h>

#include <apr_file_info.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Common.h"
#include "CommonMetaFileInternal.h"
#include "CommonPath.h"
#include "CommonUserMessage.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

enum ReaderKind : int { READER_NONE, READER_XML, READER_PLAYLIST };

struct ExtensionReader {
  const char *extension;
  bool prefix;  // the extension only has to begin with it
  ReaderKind reader;
};

constexpr ExtensionReader kReaders[] = {
    {"pls", false, READER_PLAYLIST}, {"m3u", false, READER_PLAYLIST}, {"xml", false, READER_XML},
    {"rss", false, READER_XML},      {"rdf", false, READER_XML},      {"atom", true, READER_XML},
    {"opml", true, READER_XML},      {"wpl", false, READER_XML},
};
// Web pages are read as XML only when the caller allows it.
constexpr ExtensionReader kHtmlReader = {"htm", true, READER_XML};

struct ModuleState {
  const char *download_folder = nullptr;
};

ModuleState state;

// A feed or playlist larger than this is not a feed.
constexpr std::size_t kMaxFetchedMetafile = 32 * 1024 * 1024;

bool extension_matches(const ExtensionReader &row, const char *extension) {
  if (row.prefix) return strncasecmp(extension, row.extension, std::strlen(row.extension)) == 0;
  return strcasecmp(extension, row.extension) == 0;
}

ReaderKind reader_of(const MediaTypeEntry *type, bool html_allowed) {
  if (type == nullptr || type->extension == nullptr) return READER_NONE;
  for (const ExtensionReader &row : kReaders) {
    if (extension_matches(row, type->extension)) return row.reader;
  }
  if (html_allowed && extension_matches(kHtmlReader, type->extension)) return kHtmlReader.reader;
  return READER_NONE;
}

int read(MetaFileParser *parser, ReaderKind reader) {
  return reader == READER_XML ? meta_read_xml(parser) : meta_read_playlist(parser);
}

// Fetches url into a file of its own in the download folder (the system's
// temporary folder before metafile_init), named in pool. The caller removes it.
int fetch_copy(apr_pool_t *pool, const char *url, MetaFetchEnough enough, void *enough_context, CancelCheck cancel,
               void *cancel_context, const char **copy) {
  const char *folder = state.download_folder;
  if (folder == nullptr && apr_temp_dir_get(&folder, pool) != APR_SUCCESS) folder = ".";
  const char *path = path_join(pool, folder, nullptr, apr_psprintf(pool, "metafile-%u-%u.tmp",
                                                                   static_cast<unsigned>(getpid()), unique_id_next()));
  if (path == nullptr) return APR_EGENERAL;
  apr_file_t *file = nullptr;
  apr_status_t status = apr_file_open(&file, path, APR_FOPEN_WRITE | APR_FOPEN_CREATE | APR_FOPEN_TRUNCATE |
                                      APR_FOPEN_BUFFERED, APR_OS_DEFAULT, pool);
  if (status != APR_SUCCESS) {
    char reason[256];
    LOG4C(METAFILE_MODULE, LOG4C_ERROR,
          log4c_sprintf("Unable to open meta file (%s), reason: %s", path, apr_strerror(status, reason, sizeof reason)));
    return APR_EGENERAL;
  }
  MetaFetch fetch;
  fetch.url = url;
  fetch.cancel = cancel;
  fetch.cancel_context = cancel_context;
  fetch.file = file;
  fetch.limit = kMaxFetchedMetafile;
  fetch.enough = enough;
  fetch.enough_context = enough_context;
  fetch.path = path;
  int result = meta_fetch(pool, &fetch);
  if (apr_file_close(file) != APR_SUCCESS && result == APR_SUCCESS) result = APR_EGENERAL;
  if (result != APR_SUCCESS) apr_file_remove(path, pool);
  *copy = result == APR_SUCCESS ? path : nullptr;
  return result;
}

// Whether name is a copy "metafile-<pid>-<n>.tmp" of a process that is gone:
// a run killed while it fetched leaves its copy behind.
bool left_by_dead_run(const char *name) {
  unsigned pid = 0, number = 0;
  int end = 0;
  if (std::sscanf(name, "metafile-%u-%u.tmp%n", &pid, &number, &end) != 2 || name[end] != '\0' || pid == 0) return false;
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

void delete_leftovers(apr_pool_t *pool, const char *folder) {
  apr_dir_t *dir = nullptr;
  if (folder == nullptr || apr_dir_open(&dir, folder, pool) != APR_SUCCESS) return;
  std::vector<std::string> leftovers;
  apr_finfo_t entry;
  while (apr_dir_read(&entry, APR_FINFO_TYPE | APR_FINFO_NAME, dir) == APR_SUCCESS) {
    if (entry.filetype == APR_REG && left_by_dead_run(entry.name)) leftovers.push_back(entry.name);
  }
  apr_dir_close(dir);
  for (const std::string &name : leftovers) {
    const char *path = path_join(pool, folder, nullptr, name.c_str());
    if (path != nullptr && apr_file_remove(path, pool) == APR_SUCCESS) {
      LOG4C(METAFILE_MODULE, LOG4C_INFO, log4c_sprintf("Removed leftover %s of an earlier run", path));
    }
  }
}

}  // namespace

int metafile_init(apr_pool_t *pool, const char *download_folder) {
  state.download_folder = download_folder != nullptr ? apr_pstrdup(pool, download_folder) : nullptr;
  delete_leftovers(pool, state.download_folder);
  return APR_SUCCESS;
}

void metafile_terminate() {
  state = ModuleState{};
  meta_forget_media_url();
}

int metafile_is_parsable(const MediaTypeEntry *type, int html_allowed) {
  return reader_of(type, html_allowed != 0) != READER_NONE ? 1 : 0;
}

int metafile_fetch(apr_pool_t *pool, const char *url, MetaFetchEnough enough, void *enough_context,
                   CancelCheck cancel, void *cancel_context, const char **copy) {
  *copy = nullptr;
  return fetch_copy(pool, url, enough, enough_context, cancel, cancel_context, copy);
}

int metafile_parse_copy(const MediaTypeEntry *type, int options, const char *path, const char *copy,
                        MetaItemCallback callback, void *context, CancelCheck cancel, void *cancel_context) {
  ReaderKind reader = reader_of(type, true);
  if (reader == READER_NONE) {
    const char *extension = type != nullptr && type->extension != nullptr ? type->extension : "";
    LOG4C(METAFILE_MODULE, LOG4C_WARN, log4c_sprintf("Unknown metafile format %s", extension));
    return APR_ENOTIMPL;
  }
  if (path == nullptr || callback == nullptr) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  MetaFileParser parser(path, options, callback, context, cancel, cancel_context);
  if (copy != nullptr) parser.file = apr_pstrdup(parser.pool, copy);
  const int status = read(&parser, reader);
  if (status == APR_EGENERAL && copy != nullptr) LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf("Could not parse url %s", path));
  return status;
}

int metafile_parse(const MediaTypeEntry *type, int options, const char *path, MetaItemCallback callback,
                   void *context, CancelCheck cancel, void *cancel_context) {
  if (path == nullptr || !url_is_remote(path) || reader_of(type, true) == READER_NONE) {
    return metafile_parse_copy(type, options, path, nullptr, callback, context, cancel, cancel_context);
  }
  Pool pool(nullptr, METAFILE_MODULE);
  const char *copy = nullptr;
  int status = fetch_copy(pool, path, nullptr, nullptr, cancel, cancel_context, &copy);
  if (status != APR_SUCCESS) return status;
  status = metafile_parse_copy(type, options, path, copy, callback, context, cancel, cancel_context);
  apr_file_remove(copy, pool);
  return status;
}

int metafile_parser_format(const MetaFileParser *parser) { return parser->format; }

const char *metafile_parser_path(const MetaFileParser *parser) { return parser->path; }
