// The scan of text metafiles (ASX, "[Reference]" and RAM files) for the one
// media URL they point to. Works on a buffer the caller holds; stateless.
#include <apr_strings.h>

#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>

#include "CommonMetaFileInternal.h"
#include "CommonPath.h"
#include "CommonText.h"
#include "log4c.h"

namespace {

constexpr int kScannedLines = 50;
constexpr const char *kPageMarks[] = {"<smil", "<!DOCTYPE", "<html", "<head", "<script"};
constexpr const char *kAsxMarks[] = {"<ASX", "[Reference]"};
constexpr const char *kAsxReferenceMarks[] = {"<ref", "[ref"};
constexpr const char *kStreamSchemes[] = {"mms://", "mmst://", "mmsu://", "rtsp://", "rtspt://", "rtspu://"};
// "https://" is read as "http://" wherever a web URL is looked for.
constexpr const char *kWebSchemes[] = {"http://", "https://"};
constexpr const char *kRealExtensions[] = {"ra", "rm", "rv", "ram", "mov", "smi"};
constexpr const char *kWindowsMediaExtensions[] = {"wmv", "asf", "wma"};

template <std::size_t N>
bool line_has_any(std::string_view line, const char *const (&marks)[N]) {
  for (const char *mark : marks) {
    if (str_find_n(line.data(), mark, line.size()) != nullptr) return true;
  }
  return false;
}

template <std::size_t N>
bool is_one_of(const char *text, const char *const (&words)[N]) {
  if (text == nullptr) return false;
  for (const char *word : words) {
    if (strcasecmp(word, text) == 0) return true;
  }
  return false;
}

// The earliest URL of one of schemes in line, ending at a quote, white space
// or "<"; null when there is none.
template <std::size_t N>
char *find_url(apr_pool_t *pool, std::string_view line, const char *const (&schemes)[N]) {
  const char *first = nullptr;
  for (const char *scheme : schemes) {
    const char *found = str_find_n(line.data(), scheme, line.size());
    if (found != nullptr && (first == nullptr || found < first)) first = found;
  }
  if (first == nullptr) return nullptr;
  const char *end = first;
  const char *line_end = line.data() + line.size();
  while (end < line_end && std::strchr("\"' \t<", *end) == nullptr) ++end;
  return apr_pstrmemdup(pool, first, static_cast<apr_size_t>(end - first));
}

struct ScanState {
  apr_pool_t *pool;
  bool asx = false;
  char *kept = nullptr;
};

// Returns 1 with *answer set when the line settles the scan (an answer, or
// null for a page), else 0.
int scan_line(ScanState *state, std::string_view line, char **answer) {
  if (line_has_any(line, kPageMarks)) {
    *answer = nullptr;
    return 1;
  }
  if (line_has_any(line, kAsxMarks)) state->asx = true;
  if (char *stream = find_url(state->pool, line, kStreamSchemes)) {
    if (!is_one_of(meta_url_extension(state->pool, stream), kRealExtensions)) {
      *answer = stream;
      return 1;
    }
  }
  char *web = find_url(state->pool, line, kWebSchemes);
  if (web == nullptr) return 0;
  const char *extension = meta_url_extension(state->pool, web);
  if (is_one_of(extension, kRealExtensions)) return 0;
  if (is_one_of(extension, kWindowsMediaExtensions) || (state->asx && line_has_any(line, kAsxReferenceMarks))) {
    bool keep_scheme = !state->asx || (extension != nullptr && strcasecmp(extension, "asx") == 0);
    *answer = keep_scheme ? web : meta_as_mms(state->pool, web);
    return 1;
  }
  if (state->kept == nullptr) {
    state->kept = web;
  } else {
    std::string line_copy(line);
    LOG4C(METAFILE_MODULE, LOG4C_WARN,
          log4c_sprintf("Found an additional http url in line %s, first http url was %s", line_copy.c_str(),
                        state->kept));
  }
  return 0;
}

}  // namespace

char *metafile_scan_text(apr_pool_t *pool, const char *text, std::size_t length) {
  if (text == nullptr) return nullptr;
  ScanState state{pool};
  std::string_view rest(text, length);
  for (int line_number = 0; line_number < kScannedLines && !rest.empty(); ++line_number) {
    std::size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    if (end == std::string_view::npos) {
      rest = {};
    } else {
      // A "\r\n" pair ends one line, not two.
      std::size_t next = rest.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
      rest = rest.substr(next);
    }
    char *answer = nullptr;
    if (scan_line(&state, line, &answer) != 0) return answer;
  }
  return state.kept;
}

const char *meta_url_extension(apr_pool_t *pool, const char *url) {
  const char *extension = path_extension(url, 1);
  return extension == nullptr ? nullptr : apr_pstrndup(pool, extension, std::strcspn(extension, "?#&"));
}

// "http://host/x" becomes "mms://host/x"; an "https://" URL has no such
// counterpart and is kept.
char *meta_as_mms(apr_pool_t *pool, const char *url) {
  if (strncasecmp(url, "http://", 7) != 0) return apr_pstrdup(pool, url);
  return apr_pstrcat(pool, "mms", url + 4, nullptr);
}
