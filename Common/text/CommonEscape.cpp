#include "CommonEscape.h"

#include <apr_lib.h>
#include <apr_strings.h>

#include <cstring>
#include <iterator>
#include <string_view>
#include <strings.h>

#include "Common.h"
#include "log4c.h"

namespace {
struct Entity {
  std::string_view name;
  char byte;
};

// The five XML entities; escaping and unescaping both use this table.
constexpr Entity kXmlEntities[] = {
    {"&apos;", '\''}, {"&gt;", '>'}, {"&lt;", '<'}, {"&amp;", '&'}, {"&quot;", '"'}};

// HTML entities in the order they are tried; accented letters decode to their
// plain letter and the em dash to its Windows-1252 byte.
constexpr Entity kHtmlEntities[] = {
    {"&lt;", '<'},     {"&gt;", '>'},     {"&amp;", '&'},    {"&nbsp;", ' '},   {"&#8212;", '\x97'},
    {"&quot;", '"'},   {"&apos;", '\''},  {"&Eacute;", 'E'}, {"&eacute;", 'e'}, {"&Ntilde;", 'N'},
    {"&ntilde;", 'n'}, {"&Uuml;", 'U'},   {"&uuml;", 'u'},   {"&Uacute;", 'U'}, {"&uacute;", 'u'},
    {"&Egrave;", 'E'}, {"&egrave;", 'e'}, {"&Iacute;", 'I'}, {"&iacute;", 'i'}, {"&Iuml;", 'I'},
    {"&iuml;", 'i'},   {"&Oacute;", 'O'}, {"&oacute;", 'o'}, {"&Aacute;", 'A'}, {"&aacute;", 'a'},
    {"&Atilde;", 'A'}, {"&atilde;", 'a'}, {"&Agrave;", 'A'}, {"&agrave;", 'a'}, {"&Ccedil;", 'C'},
    {"&ccedil;", 'c'}, {"&rsaquo;", '>'}, {"&lsaquo;", '<'}, {"&acute;", '\''}};

constexpr std::size_t kHtmlBufferSize = 4096;
constexpr std::size_t kUrlBufferSize = 4096;

// The XML entity text starts with (any case), or null.
const Entity *xml_entity_at(const char *text) {
  for (const Entity &entity : kXmlEntities)
    if (strncasecmp(text, entity.name.data(), entity.name.size()) == 0) return &entity;
  return nullptr;
}

// The bytes of kXmlEntities, for strcspn.
constexpr char kXmlBytes[] = {kXmlEntities[0].byte, kXmlEntities[1].byte, kXmlEntities[2].byte,
                              kXmlEntities[3].byte, kXmlEntities[4].byte, '\0'};
static_assert(std::size(kXmlEntities) == 5, "kXmlBytes lists every entity's byte");

// Hands text to write, escaped, piece by piece: runs without a byte to
// escape whole, then each such byte's entity. An ampersand that begins an
// entity (in any case) stands for itself and is written as XML spells the
// entity: "&Gt;" is no XML entity and would make the document invalid
// (xml_unescape reads any case, so the text means the same).
template <typename Write>
void xml_escape_pieces(const char *text, Write write) {
  for (;;) {
    const std::size_t run = std::strcspn(text, kXmlBytes);
    if (run > 0) write(std::string_view(text, run));
    text += run;
    if (*text == '\0') return;
    const Entity *entity = *text == '&' ? xml_entity_at(text) : nullptr;
    if (entity != nullptr) {
      write(entity->name);
      text += entity->name.size();
      continue;
    }
    for (const Entity &escape : kXmlEntities) {
      if (escape.byte == *text) write(escape.name);
    }
    ++text;
  }
}

const Entity *html_entity_at(const char *text) {
  for (const Entity &entity : kHtmlEntities)
    if (std::strncmp(text, entity.name.data(), entity.name.size()) == 0) return &entity;
  return nullptr;
}

bool url_keeps(unsigned char c) { return apr_isalnum(c) || std::strchr("!()*-._~", c) != nullptr; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

char *xml_escape(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return nullptr;
  // Most texts (paths, titles, numbers) hold no byte to escape: a plain copy
  // spares the two passes below, which are a twentieth of a scan's writer.
  const std::size_t plain = std::strcspn(text, kXmlBytes);
  if (text[plain] == '\0') return apr_pstrmemdup(pool, text, plain);
  std::size_t length = 0;
  xml_escape_pieces(text, [&length](std::string_view piece) { length += piece.size(); });
  char *result = static_cast<char *>(apr_palloc(pool, length + 1));
  char *out = result;
  xml_escape_pieces(text, [&out](std::string_view piece) {
    std::memcpy(out, piece.data(), piece.size());
    out += piece.size();
  });
  *out = '\0';
  return result;
}

// The runs between ampersands are copied whole: most texts (every value a
// scan reads back from the library) hold no entity at all.
char *xml_unescape(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return nullptr;
  const char *end = text + std::strlen(text);
  char *result = static_cast<char *>(apr_palloc(pool, static_cast<std::size_t>(end - text) + 1));
  char *out = result;
  while (text < end) {
    const auto *amp = static_cast<const char *>(std::memchr(text, '&', static_cast<std::size_t>(end - text)));
    const char *run_end = amp != nullptr ? amp : end;
    std::memcpy(out, text, static_cast<std::size_t>(run_end - text));
    out += run_end - text;
    text = run_end;
    if (amp == nullptr) break;
    const Entity *entity = xml_entity_at(text);
    *out++ = entity != nullptr ? entity->byte : *text;
    text += entity != nullptr ? entity->name.size() : 1;
  }
  *out = '\0';
  return result;
}

char *html_unescape(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return nullptr;
  char buffer[kHtmlBufferSize];
  std::size_t used = 0;
  while (*text != '\0') {
    if (used + 1 >= kHtmlBufferSize) {
      LOG4C(COMMON_MODULE, LOG4C_ERROR, "Internal static buffer too small, truncating...");
      return nullptr;
    }
    const Entity *entity = *text == '&' ? html_entity_at(text) : nullptr;
    buffer[used++] = entity != nullptr ? entity->byte : *text;
    text += entity != nullptr ? entity->name.size() : 1;
  }
  return apr_pstrmemdup(pool, buffer, used);
}

char *url_encode(apr_pool_t *pool, const char *text, int plus) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (text == nullptr) return nullptr;
  char buffer[kUrlBufferSize];
  std::size_t used = 0;
  for (; *text != '\0'; ++text) {
    unsigned char c = static_cast<unsigned char>(*text);
    bool single = url_keeps(c) || (plus && c == ' ');
    if (used + (single ? 1 : 3) >= kUrlBufferSize) {
      LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf("URI %s is too long, trimming...", text));
      break;
    }
    if (single) {
      buffer[used++] = c == ' ' ? '+' : static_cast<char>(c);
    } else {
      buffer[used++] = '%';
      buffer[used++] = kHex[c >> 4];
      buffer[used++] = kHex[c & 0x0F];
    }
  }
  return apr_pstrmemdup(pool, buffer, used);
}

char *url_decode(apr_pool_t *pool, const char *text) {
  if (text == nullptr) return nullptr;
  char *result = static_cast<char *>(apr_palloc(pool, std::strlen(text) + 1));
  char *out = result;
  while (*text != '\0') {
    int high = *text == '%' ? hex_value(text[1]) : -1;
    int low = high >= 0 ? hex_value(text[2]) : -1;
    if (low >= 0) {
      *out++ = static_cast<char>(high * 16 + low);
      text += 3;
    } else {
      *out++ = *text == '+' ? ' ' : *text;
      ++text;
    }
  }
  *out = '\0';
  return result;
}

char *text_for_terminal(apr_pool_t *pool, const char *text) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (text == nullptr) return apr_pstrdup(pool, "");
  // At most four bytes out for every byte in.
  char *out = static_cast<char *>(apr_palloc(pool, 4 * std::strlen(text) + 1));
  char *at = out;
  auto hex = [&at](unsigned char c) {
    *at++ = '\\';
    *at++ = 'x';
    *at++ = kHex[c >> 4];
    *at++ = kHex[c & 0x0F];
  };
  const auto *start = reinterpret_cast<const unsigned char *>(text);
  for (const unsigned char *p = start; *p != '\0'; ++p) {
    // A C1 control is either its two-byte UTF-8 form or, for a terminal
    // that reads single bytes, a byte 0x80-0x9F that continues no sequence.
    const bool c1_utf8 = *p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F;
    const bool c1_byte = *p >= 0x80 && *p <= 0x9F && (p == start || p[-1] < 0x80);
    if (c1_utf8) {
      hex(*p);
      hex(*++p);
    } else if (*p < 0x20 || *p == 0x7F || c1_byte) {
      hex(*p);
    } else {
      *at++ = static_cast<char>(*p);
    }
  }
  *at = '\0';
  return out;
}
