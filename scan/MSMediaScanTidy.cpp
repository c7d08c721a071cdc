// The tidy-up of tag texts.
#include "MSMediaScanTidy.h"

#include <apr_strings.h>

#include <cstring>

#include "CommonText.h"

// Quote characters are trimmed only when they wrap the whole text: cutting
// the opening quote of a title that merely starts with a quoted word would
// leave its closing quote dangling ("Quoted" River gave Quoted" River).
const char *msms_tidy(apr_pool_t *pool, const char *text) {
  char *copy = str_trim(apr_pstrdup(pool, text));
  std::size_t length = std::strlen(copy);
  bool wrapped = length >= 2 && (copy[0] == '"' || copy[0] == '\'') && copy[length - 1] == copy[0];
  if (wrapped) {
    copy[length - 1] = '\0';
    copy = str_trim(copy + 1);
  }
  return str_title_case(nullptr, copy);
}
