// CommonUtf8: UTF-8 checks and conversions (legacy encodings to UTF-8, UTF-8
// to and from UTF-16 and UCS-4).
//
// text_to_utf8 returns pool text; the UTF-16 conversions return heap blocks
// the caller releases with free(). Stateless and re-entrant.
#pragma once

#include <apr_pools.h>

#include <cstddef>
#include <cstdint>

// 1 when text is well-formed UTF-8 (sequences complete and shortest, lead bytes up to
// 0xF4) without a control byte XML forbids (below 0x20 other than tab, LF,
// CR); else 0. Null counts as 0.
int utf8_is_xml_text(const char *text);
// As utf8_is_xml_text for length bytes of data (NUL is a forbidden byte).
int utf8_is_xml_text_n(const char *data, std::size_t length);

// Longest text kept from a tag or a name (bytes of UTF-8): longer texts are
// cut at a character boundary. A title is copied into sort keys and view
// names, so one huge tag would otherwise multiply in the library.
inline constexpr std::size_t TEXT_MAX_BYTES = 4096;

// How utf8_xml_clean writes what XML 1.0 text cannot carry.
enum Utf8Repair : int {
  // Malformed sequences become U+FFFD; control characters XML forbids and
  // U+FFFE / U+FFFF are left out. For titles and other texts.
  UTF8_REPAIR_TEXT = 0,
  // Each byte of a malformed sequence, each forbidden control byte and
  // every '%' become "%XX" (upper-case hex), so that percent-decoding the
  // result gives the original bytes back. For URLs of files.
  UTF8_REPAIR_PERCENT = 1,
  // As UTF8_REPAIR_PERCENT, but '%' is kept: a web URL is already
  // percent-encoded, and its server must get its escapes as given.
  UTF8_REPAIR_WEB_URL = 2,
};

// The first length bytes of text (NUL ends them earlier) as well-formed
// UTF-8 that XML 1.0 accepts, repaired as repair says and cut at a character
// boundary to at most max_bytes (0: no cap). Gives text itself when nothing
// changes, else a copy in pool. Null gives null.
const char *utf8_xml_clean(apr_pool_t *pool, const char *text, std::size_t length, std::size_t max_bytes,
                           Utf8Repair repair);

// length bytes of text converted from encoding (null: the system encoding)
// to UTF-8, at most 8192 bytes. Gives common_empty_string after ERROR "Could
// not initialize conversion to utf8" or WARN "Could not convert %s from %s
// encoding to utf8".
const char *text_to_utf8(apr_pool_t *pool, const char *encoding, const char *text,
                         std::size_t length);

// A pool copy of text when it is well-formed UTF-8 (utf8_is_xml_text), else
// its conversion from the system encoding (text_to_utf8). Null gives null.
const char *utf8_valid_copy(apr_pool_t *pool, const char *text);

// NUL-terminated UTF-16 copy of UTF-8 text (heap, free()). Null after ERROR
// "Could not allocate memory" or "Could not convert from UTF8 to unicode".
char16_t *utf8_to_utf16(const char *text);
// NUL-terminated UTF-8 copy of UTF-16 text (heap, free()). Null after ERROR
// "Could not allocate memory" or "Could not convert from unicode to UTF8".
char *utf16_to_utf8(const char16_t *text);
// Converts text into buffer (capacity 32-bit units, NUL included) and returns
// the number of units before the NUL; -1 after the internal-error text when
// capacity is smaller than the text's byte length + 1, or after ERROR "Could
// not convert from UTF8 to UCS4".
int utf8_to_ucs4(const char *text, std::uint32_t *buffer, std::size_t capacity);
