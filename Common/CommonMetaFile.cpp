// The front of the metafile reader: which formats are read, which reader a
// file goes to, and the module state set up at start-up.
#include <apr_strings.h>

#include <cstring>
#include <strings.h>

#include "CommonMetaFileInternal.h"
#include "CommonPath.h"
#include "CommonUserMessage.h"
#include "log4c.h"

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

}  // namespace

int metafile_init(apr_pool_t *pool, const char *download_folder) {
  state.download_folder = download_folder != nullptr ? apr_pstrdup(pool, download_folder) : nullptr;
  return APR_SUCCESS;
}

void metafile_terminate() { state = ModuleState{}; }

int metafile_is_parsable(const MediaTypeEntry *type, int html_allowed) {
  return reader_of(type, html_allowed != 0) != READER_NONE ? 1 : 0;
}

int metafile_parse(const MediaTypeEntry *type, int options, const char *path, MetaItemCallback callback,
                   void *context, MetaCancelCheck cancel, void *cancel_context) {
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
  if (url_is_remote(path)) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf("Could not get url %s", path));
    return APR_EGENERAL;
  }
  MetaFileParser parser(path, options, callback, context, cancel, cancel_context);
  return reader == READER_XML ? meta_read_xml(&parser) : meta_read_playlist(&parser);
}

int metafile_parser_format(const MetaFileParser *parser) { return parser->format; }

const char *metafile_parser_path(const MetaFileParser *parser) { return parser->path; }
