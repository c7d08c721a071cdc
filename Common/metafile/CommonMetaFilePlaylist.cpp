// The reader of text playlists: plain lists of paths or URLs, extended M3U
// ("#EXTINF:") and PLS version 2. Lines are read one at a time into a fixed
// buffer; each entry is an item with one sub-item holding its res, reported
// as soon as the next entry starts.
#include <apr_file_io.h>
#include <apr_strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "CommonMetaFileInternal.h"
#include "CommonText.h"
#include "CommonTextFile.h"
#include "CommonTime.h"
#include "CommonUtf8.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

// One byte more than the longest line kept: a line that fills the buffer
// is longer than that and is dropped whole.
constexpr int kLineSize = 4096 + 1;
constexpr int kLongestLine = kLineSize - 2;

enum PlsTag : int { PLS_FILE, PLS_TITLE, PLS_LENGTH, PLS_ENTRIES, PLS_VERSION, PLS_UNKNOWN };

struct PlsTagName {
  const char *name;
  PlsTag tag;
  bool numbered;  // the entry number follows the name
};

// NumberOfEntries before the tags it is no prefix of, for readability only.
constexpr PlsTagName kPlsTags[] = {
    {"NumberOfEntries", PLS_ENTRIES, false}, {"Version", PLS_VERSION, false}, {"File", PLS_FILE, true},
    {"Title", PLS_TITLE, true},              {"Length", PLS_LENGTH, true},
};

struct PlaylistReader {
  MetaFileParser *parser;
  int entry_number = -1;  // PLS: the number of the open entry
  bool after_extinf = false;
};

bool starts_with(const char *text, const char *prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

void store(MetaFileParser *parser, int level, int slot, const char *value) {
  apr_pool_t *pool = parser->levels.pool[level];
  meta_store(pool, parser->levels.list[level], slot, META_VALUE_SET, nullptr, value);
}

// A title as UTF-8, a malformed sequence repaired to U+FFFD.
const char *title_copy(MetaFileParser *parser, int level, const char *text) {
  apr_pool_t *pool = parser->levels.pool[level];
  return apr_pstrdup(pool, utf8_xml_clean(pool, text, std::strlen(text), 0, UTF8_REPAIR_TEXT));
}

// A URL or path exactly as listed: a file named in another encoding is
// still found, and documents write its bytes percent-encoded.
const char *url_copy(MetaFileParser *parser, int level, const char *text) {
  return apr_pstrdup(parser->levels.pool[level], text);
}

// Ends the open entry and opens the next one (item and sub-item).
void open_entry(PlaylistReader *reader) {
  MetaFileParser *parser = reader->parser;
  meta_level_close(parser, 2);
  if (parser->stop) return;
  meta_level_open(parser, 2);
  meta_level_open(parser, 3);
}

// A duration in seconds; streams give -1 for "unknown", which stores nothing.
void store_seconds(MetaFileParser *parser, const char *seconds) {
  if (*seconds == '-') return;
  store(parser, 3, PROP_RES_DURATION, duration_normalize(parser->levels.pool[3], seconds));
}

void read_url(PlaylistReader *reader, const char *line) {
  if (!reader->after_extinf) open_entry(reader);
  reader->after_extinf = false;
  if (reader->parser->stop) return;
  store(reader->parser, 3, PROP_RES, url_copy(reader->parser, 3, line));
}

void read_extinf(PlaylistReader *reader, const char *text) {
  MetaFileParser *parser = reader->parser;
  open_entry(reader);
  if (parser->stop) return;
  reader->after_extinf = true;
  const char *comma = std::strchr(text, ',');
  if (comma == nullptr) {
    store(parser, 2, PROP_DC_TITLE, title_copy(parser, 2, text));
    return;
  }
  store(parser, 2, PROP_DC_TITLE, title_copy(parser, 2, str_skip_space(comma + 1)));
  char *seconds = apr_pstrmemdup(parser->levels.pool[3], text, static_cast<apr_size_t>(comma - text));
  seconds = str_trim(seconds);
  if (*seconds != '\0') store_seconds(parser, seconds);
}

void read_m3u_line(PlaylistReader *reader, const char *line) {
  if (reader->parser->format == METAFILE_EXTENDED_M3U && starts_with(line, "#EXTINF:")) {
    read_extinf(reader, line + 8);
    return;
  }
  if (line[0] == '#') return;
  read_url(reader, line);
}

int pls_fail(const char *format, const char *line) {
  LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf(format, line));
  return APR_EGENERAL;
}

// Parses a whole decimal number (sign allowed) that fits an int.
bool parse_int(const char *text, int *value) {
  if (*text == '\0') return false;
  errno = 0;
  char *end = nullptr;
  long number = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || number < INT_MIN || number > INT_MAX) return false;
  *value = static_cast<int>(number);
  return true;
}

const PlsTagName *pls_tag_of(const char *line) {
  for (const PlsTagName &row : kPlsTags) {
    if (starts_with(line, row.name)) return &row;
  }
  return nullptr;
}

int read_pls_entry(PlaylistReader *reader, const PlsTagName &tag, const char *line, const char *number_text,
                   const char *value) {
  MetaFileParser *parser = reader->parser;
  int number = 0;
  if (*number_text == '-' || !parse_int(number_text, &number)) {
    return pls_fail("Invalid item index (the number before the equal sign) in playlist line %s", line);
  }
  int seconds = 0;
  if (tag.tag == PLS_LENGTH && !parse_int(value, &seconds)) {
    return pls_fail("Invalid integer item (the number after the equal sign) in playlist line %s", line);
  }
  if (number != reader->entry_number) {
    open_entry(reader);
    if (parser->stop) return APR_SUCCESS;
    reader->entry_number = number;
    store(parser, 2, PROP_UPNP_ORIGINAL_TRACK_NUMBER, apr_psprintf(parser->levels.pool[2], "%010d", number));
  }
  switch (tag.tag) {
    case PLS_FILE:
      store(parser, 3, PROP_RES, url_copy(parser, 3, value));
      break;
    case PLS_TITLE:
      store(parser, 2, PROP_DC_TITLE, title_copy(parser, 2, value));
      break;
    default:
      store_seconds(parser, value);
      break;
  }
  return APR_SUCCESS;
}

int read_pls_line(PlaylistReader *reader, char *line) {
  if (line[0] == '#') return APR_SUCCESS;
  const PlsTagName *tag = pls_tag_of(line);
  if (tag == nullptr) {
    LOG4C(METAFILE_MODULE, LOG4C_WARN, log4c_sprintf("Uknown tag of PLSv2 playlist line %s", line));
    return APR_SUCCESS;
  }
  char *rest = line + std::strlen(tag->name);
  char *separator = rest + std::strcspn(rest, "=:");
  if (*separator == '\0') {
    return pls_fail("Invalid PLSv2 playlist line %s - equal sign '=' is missing", line);
  }
  const char *value = str_skip_space(separator + 1);
  if (tag->tag == PLS_ENTRIES) return APR_SUCCESS;
  if (tag->tag == PLS_VERSION) {
    int version = 0;
    if (!parse_int(value, &version) || version != 2) {
      LOG4C(METAFILE_MODULE, LOG4C_WARN, log4c_sprintf("Unknown PLS version in line %s", line));
    }
    return APR_SUCCESS;
  }
  // The entry number is the text between the tag and the separator.
  std::string number(rest, static_cast<std::size_t>(separator - rest));
  return read_pls_entry(reader, *tag, line, str_trim(number.data()), value);
}

// The first non-empty line decides the format; a comment before the
// "#EXTM3U" marker decides nothing.
// Returns true when the line was only the format's marker (or a comment).
bool decide_format(MetaFileParser *parser, const char *line) {
  if (line[0] == '#') {
    if (starts_with(line + 1, "EXTM3U")) parser->format = METAFILE_EXTENDED_M3U;
    return true;
  }
  if (strcasecmp(line, "[playlist]") == 0) {
    parser->format = METAFILE_PLS;
    return true;
  }
  parser->format = METAFILE_PLAIN_LIST;
  return false;
}

int read_line(PlaylistReader *reader, char *line) {
  MetaFileParser *parser = reader->parser;
  if (parser->levels.list[1] == nullptr && meta_level_open(parser, 1) != APR_SUCCESS) return APR_EGENERAL;
  if (parser->format == 0 && decide_format(parser, line)) return APR_SUCCESS;
  if (parser->format == METAFILE_PLS) return read_pls_line(reader, line);
  read_m3u_line(reader, line);
  return APR_SUCCESS;
}

// Only UTF-8 text (with or without its mark) is read.
int check_encoding(apr_file_t *file, const char **pending) {
  const char *encoding = nullptr;
  int status = text_detect_bom(file, &encoding, pending);
  if (status == APR_EOF) return APR_SUCCESS;
  if (status != APR_SUCCESS) return APR_EGENERAL;
  if (encoding != nullptr && strcasecmp(encoding, "utf-8") != 0) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf("Encoding %s is not supported", encoding));
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

void log_file_error(const char *format, const char *path, apr_status_t status) {
  char reason[256];
  LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf(format, path, apr_strerror(status, reason, sizeof reason)));
}

int read_lines(PlaylistReader *reader, apr_file_t *file, const char *pending) {
  MetaFileParser *parser = reader->parser;
  char buffer[kLineSize];
  bool dropping = false;  // inside a line longer than the buffer
  while (!parser->stop && text_read_line(file, buffer, kLineSize, 0) == 1) {
    bool full = static_cast<int>(std::strlen(buffer)) > kLongestLine;
    if (dropping || full) {
      if (!dropping) {
        LOG4C(METAFILE_MODULE, LOG4C_ERROR,
              log4c_sprintf("Playlist line longer than %d characters in %s, skipping it", kLongestLine,
                            parser->path));
      }
      dropping = full;
      pending = nullptr;
      continue;
    }
    char *line = buffer;
    if (pending != nullptr) {
      line = apr_pstrcat(parser->pool, pending, buffer, nullptr);
      pending = nullptr;
    }
    line = str_trim(line);
    if (*line == '\0') continue;
    int status = read_line(reader, line);
    if (status != APR_SUCCESS) return status;
  }
  return APR_SUCCESS;
}

}  // namespace

int meta_read_playlist(MetaFileParser *parser) {
  Pool pool(parser->pool, METAFILE_MODULE);
  apr_file_t *file = nullptr;
  apr_status_t status = apr_file_open(&file, parser->file, APR_FOPEN_READ | APR_FOPEN_BUFFERED, APR_OS_DEFAULT, pool);
  if (status != APR_SUCCESS) {
    log_file_error("Unable to open meta file (%s), reason: %s", parser->file, status);
    return APR_EGENERAL;
  }
  PlaylistReader reader{parser};
  const char *pending = nullptr;
  int result = check_encoding(file, &pending);
  if (result == APR_SUCCESS) result = read_lines(&reader, file, pending);
  status = apr_file_close(file);
  if (status != APR_SUCCESS) log_file_error("Unable to close meta file (%s), reason: %s", parser->file, status);
  if (result != APR_SUCCESS) return result;
  if (parser->stop || (parser->options & METAFILE_OPTION_PARTIAL) != 0) return parser->result;
  meta_levels_close_all(parser);
  return parser->stop ? parser->result : APR_SUCCESS;
}
