// The language search and the current user-interface language.
#include "CommonLang.h"

#include <apr_thread_rwlock.h>
#include <strings.h>

#include <cctype>
#include <string_view>

#include "log4c.h"

namespace {

constexpr const char *kModule = "CommonLang";

// Module state: the current user-interface language and its lock.
apr_thread_rwlock_t *current_lock = nullptr;
int current_index = 0;

bool is_letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// True when word occurs in text, ignoring case, with no letter directly
// before or after it.
bool contains_word(std::string_view text, std::string_view word) {
  if (word.empty() || word.size() > text.size()) return false;
  for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
    if (!equal_ignoring_case(text.substr(at, word.size()), word)) continue;
    bool starts = at == 0 || !is_letter(text[at - 1]);
    std::size_t end = at + word.size();
    bool ends = end == text.size() || !is_letter(text[end]);
    if (starts && ends) return true;
  }
  return false;
}

// The first three letters of a code as stored ("fre (B)" gives "fre").
std::string_view code_letters(const LanguageEntry &entry) {
  return std::string_view(entry.code).substr(0, 3);
}

// The lock goes with its pool; later calls then run unguarded rather than
// on a destroyed lock.
apr_status_t forget_lock(void *) {
  current_lock = nullptr;
  return APR_SUCCESS;
}

}  // namespace

int lang_init(apr_pool_t *pool) {
  if (apr_thread_rwlock_create(&current_lock, pool) != APR_SUCCESS) {
    current_lock = nullptr;
    LOG4C(kModule, LOG4C_ERROR, "Could no create mutex");
    return APR_EGENERAL;
  }
  apr_pool_cleanup_register(pool, nullptr, forget_lock, apr_pool_cleanup_null);
  return 0;
}

void lang_term() {
  apr_thread_rwlock_t *lock = current_lock;
  current_lock = nullptr;
  if (lock) apr_thread_rwlock_destroy(lock);
}

void lang_set_current(int index) {
  if (current_lock) apr_thread_rwlock_wrlock(current_lock);
  current_index = index;
  if (current_lock) apr_thread_rwlock_unlock(current_lock);
}

int lang_current() {
  if (current_lock) apr_thread_rwlock_rdlock(current_lock);
  int index = current_index;
  if (current_lock) apr_thread_rwlock_unlock(current_lock);
  return index;
}

const LanguageEntry *lang_find_in_text(const char *text) {
  if (!text) return nullptr;
  std::string_view haystack(text);
  const LanguageEntry *two_letter_match = nullptr;
  for (const LanguageEntry &entry : LANGUAGE_TABLE) {
    if (contains_word(haystack, entry.name) || contains_word(haystack, code_letters(entry))) {
      return &entry;
    }
    if (entry.two_letter && contains_word(haystack, entry.two_letter)) two_letter_match = &entry;
  }
  return two_letter_match;
}

const LanguageEntry *lang_current_entry() {
  int index = lang_current();
  if (index < 0 || index >= LANG_UI_COUNT) return nullptr;
  return lang_find_in_text(LANG_UI_NAMES[index]);
}
