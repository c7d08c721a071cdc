// The value converters of the element tables: dates, durations, HTML text,
// the rating vocabularies of iTunes and Media RSS, and SMIL sources relative
// to the playlist's folder. Stateless; results live in the pool passed.
#include <apr_date.h>
#include <apr_strings.h>

#include <cstring>
#include <strings.h>

#include "CommonMetaFileInternal.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "CommonTime.h"
#include "log4c.h"

namespace {

struct WordMap {
  const char *from;
  const char *to;
};

constexpr WordMap kExplicitWords[] = {{"yes", "explicit"}, {"no", "unknown"}, {"clean", "clean"}};
constexpr WordMap kAdultWords[] = {{"true", "explicit"}, {"false", "clean"}};
constexpr WordMap kRatingWords[] = {{"adult", "explicit"}, {"nonadult", "clean"}};

template <std::size_t N>
const char *map_word(const WordMap (&table)[N], const char *text) {
  for (const WordMap &row : table) {
    if (strcasecmp(row.from, text) == 0) return row.to;
  }
  return nullptr;
}

const char *usec_text(apr_pool_t *pool, apr_time_t time) {
  return apr_psprintf(pool, "%" APR_INT64_T_FMT, static_cast<apr_int64_t>(time));
}

}  // namespace

const char *meta_rfc822_to_usec(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  apr_time_t time = apr_date_parse_rfc(text);
  return time == APR_DATE_BAD ? nullptr : usec_text(pool, time);
}

const char *meta_date_only(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  return time_date_only(pool, text);
}

const char *meta_iso8601_to_usec(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  apr_time_t time = time_iso8601_parse(text);
  return time < 0 ? nullptr : usec_text(pool, time);
}

const char *meta_duration(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  return duration_normalize(pool, text);
}

// Every tag becomes one space; an unclosed "<" ends the text.
const char *meta_strip_tags(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  char *out = static_cast<char *>(apr_palloc(pool, std::strlen(text) + 1));
  char *end = out;
  for (const char *at = text; *at != '\0'; ++at) {
    if (*at != '<') {
      *end++ = *at;
      continue;
    }
    const char *close = std::strchr(at, '>');
    if (close == nullptr) break;
    *end++ = ' ';
    at = close;
  }
  *end = '\0';
  return out;
}

// The src of the first <img> tag, in double or single quotes.
const char *meta_first_image(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  const char *img = str_find_n(text, "<img", std::strlen(text));
  if (img == nullptr) return nullptr;
  const char *close = std::strchr(img, '>');
  std::size_t tag_length = close != nullptr ? static_cast<std::size_t>(close - img) : std::strlen(img);
  const char *src = str_find_n(img, "src=", tag_length);
  if (src == nullptr) return nullptr;
  const char *quote = src + 4;
  if (*quote != '"' && *quote != '\'') return nullptr;
  const char *value = quote + 1;
  const char *value_end = std::strchr(value, *quote);
  if (value_end == nullptr || value_end == value) return nullptr;
  return apr_pstrmemdup(pool, value, static_cast<apr_size_t>(value_end - value));
}

const char *meta_mark_enclosure(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  return apr_pstrcat(pool, text, "(enclosure)", nullptr);
}

const char *meta_explicit_rule(apr_pool_t *, const MetaFileParser *, const char *text) {
  const char *word = map_word(kExplicitWords, text);
  if (word == nullptr) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf("Unexpected value for iTunes explicit, %s", text));
  }
  return word;
}

const char *meta_adult_rule(apr_pool_t *, const MetaFileParser *, const char *text) {
  const char *word = map_word(kAdultWords, text);
  if (word == nullptr) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR, log4c_sprintf("Unexpected value for MediaRSS adult element, %s", text));
  }
  return word;
}

const char *meta_rating_rule(apr_pool_t *, const MetaFileParser *, const char *text) {
  const char *word = map_word(kRatingWords, text);
  return word != nullptr ? word : "unknown";
}

const char *meta_scheme_rule(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  if (strcasecmp(text, "urn:simple") == 0) return nullptr;
  if (strncasecmp(text, "urn:", 4) == 0) return apr_pstrdup(pool, text + 4);
  LOG4C(METAFILE_MODULE, LOG4C_WARN, log4c_sprintf("Unexpected value for MediaRSS rating scheme attribute, %s", text));
  return nullptr;
}

const char *meta_category_rule(apr_pool_t *pool, const MetaFileParser *, const char *text) {
  char *copy = apr_pstrdup(pool, text);
  for (char *at = copy; *at != '\0'; ++at) {
    if (*at == '/') *at = '.';
  }
  return copy;
}

// "../x" and "..\x" are taken from the folder of the playlist itself; other
// sources (absolute paths, URLs, names in the same folder) are kept.
const char *meta_parent_relative(apr_pool_t *pool, const MetaFileParser *parser, const char *text) {
  if (text[0] != '.' || text[1] != '.' || (text[2] != '/' && text[2] != '\\')) return apr_pstrdup(pool, text);
  char *relative = apr_pstrdup(pool, text);
  for (char *at = relative; *at != '\0'; ++at) {
    if (*at == '\\') *at = '/';
  }
  const char *folder = path_dirname(pool, parser->path);
  return path_canonical(pool, apr_pstrcat(pool, folder, "/", relative, nullptr));
}
