// Writing a serializer buffer out as one document. The result is measured
// first and allocated once, so a large listing is not copied repeatedly.
#include <apr_strings.h>
#include <apr_tables.h>
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "CommonEscape.h"
#include "CommonSerialize.h"
#include "CommonSerializeFormats.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "CommonSerialize";
constexpr const char *kIdKey = "@id";

// Measures on the first pass (out null) and copies on the second.
struct Writer {
  char *out = nullptr;
  apr_size_t length = 0;

  void put(const char *text) {
    apr_size_t size = strlen(text);
    if (out != nullptr) memcpy(out + length, text, size);
    length += size;
  }
  template <typename... Texts>
  void put(const char *first, Texts... rest) {
    put(first);
    put(rest...);
  }
};

// Runs write twice: to measure the text, then to copy it into one block.
template <typename Write>
const char *render(apr_pool_t *pool, Write write) {
  Writer measure;
  write(measure);
  Writer copy{static_cast<char *>(apr_palloc(pool, measure.length + 1)), 0};
  write(copy);
  copy.out[copy.length] = '\0';
  return copy.out;
}

void write_records(Writer &writer, const SerializeBuffer *buffer) {
  for (const SerializeRecord *record = buffer->first; record != nullptr; record = record->next) {
    const char *element = record->element != nullptr ? record->element : "";
    writer.put("<", element, record->lines[0].attributes, ">");
    for (int index = 1; index < record->count; ++index) {
      const SerializeLine &line = record->lines[index];
      writer.put("<", line.name, line.attributes, ">", line.value, "</", line.name, ">");
    }
    writer.put("</", element, ">");
  }
}

void write_document(Writer &writer, const SerializeBuffer *buffer, const char *header, const char *footer) {
  const SerializeFormatTexts &texts = kSerializeFormats[buffer->format];
  writer.put(header, texts.inner_header);
  write_records(writer, buffer);
  writer.put(texts.inner_footer, footer);
}

// The (id, key, value) lines of FORMAT_BY_VALUE, or null when a record has
// no id. A value's line breaks and control characters are escaped as
// text_for_terminal does: a title from a feed cannot forge a line.
apr_array_header_t *collect_triples(apr_pool_t *pool, const SerializeBuffer *buffer) {
  apr_array_header_t *triples = apr_array_make(pool, 64, sizeof(SerializeTriple));
  for (const SerializeRecord *record = buffer->first; record != nullptr; record = record->next) {
    const char *id = static_cast<const char *>(apr_hash_get(record->map, kIdKey, APR_HASH_KEY_STRING));
    if (id == nullptr) {
      LOG4C(kModule, LOG4C_ERROR, "did not find id for object, returning empty result");
      return nullptr;
    }
    for (apr_hash_index_t *entry = apr_hash_first(pool, record->map); entry != nullptr; entry = apr_hash_next(entry)) {
      const void *key = nullptr;
      void *value = nullptr;
      apr_hash_this(entry, &key, nullptr, &value);
      if (strcmp(static_cast<const char *>(key), kIdKey) == 0) continue;
      *static_cast<SerializeTriple *>(apr_array_push(triples)) = {
          id, static_cast<const char *>(key), text_for_terminal(pool, static_cast<const char *>(value))};
    }
  }
  return triples;
}

const char *by_value_text(apr_pool_t *result_pool, const SerializeBuffer *buffer, const SerializeOptions *options,
                          const char *separator) {
  apr_array_header_t *triples = collect_triples(buffer->pool, buffer);
  if (triples == nullptr) return "";
  auto *first = reinterpret_cast<SerializeTriple *>(triples->elts);
  if (options != nullptr && options->compare != nullptr) {
    SerializeCompare compare = options->compare;
    std::stable_sort(first, first + triples->nelts,
                     [compare](const SerializeTriple &a, const SerializeTriple &b) { return compare(&a, &b) < 0; });
  }
  const SerializeTriple *end = first + triples->nelts;
  return render(result_pool, [&](Writer &writer) {
    for (const SerializeTriple *line = first; line != end; ++line) {
      writer.put(line->id, separator, line->key, separator, line->value, "\r\n");
    }
  });
}

const char *option_or(const SerializeOptions *options, const char *SerializeOptions::*member, const char *fallback) {
  return options != nullptr && options->*member != nullptr ? options->*member : fallback;
}

}  // namespace

int serialize_output(SerializeBuffer *buffer, apr_pool_t *pool, const SerializeOptions *options, const char **text) {
  const SerializeFormatTexts &texts = kSerializeFormats[buffer->format];
  const char *header = option_or(options, &SerializeOptions::header, texts.header);
  const char *footer = option_or(options, &SerializeOptions::footer, texts.footer);
  const char *separator = option_or(options, &SerializeOptions::separator, ",");
  if (buffer->first == nullptr) {
    *text = apr_pstrcat(pool, header, footer, nullptr);
  } else if (buffer->format == FORMAT_BY_VALUE) {
    *text = by_value_text(pool, buffer, options, separator);
  } else {
    *text = render(pool, [&](Writer &writer) { write_document(writer, buffer, header, footer); });
  }
  apr_pool_destroy(buffer->pool);
  return APR_SUCCESS;
}

int serialize_compare_value_nocase(const SerializeTriple *a, const SerializeTriple *b) {
  return strcasecmp(a->value, b->value);
}
