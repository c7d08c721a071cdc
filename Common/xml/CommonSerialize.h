// CommonSerialize: builds a document (DIDL-Lite and eight other formats)
// record by record.
//
// The caller opens a record per object, adds lines and attributes by
// property name, and finally asks for the whole document. The buffer owns a
// private pool holding everything until serialize_output, which writes the
// document into the caller's pool and destroys the buffer. A buffer belongs
// to one thread.
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>

enum SerializeFormat : int {
  FORMAT_DIDL_LITE = 0,
  FORMAT_RESULTSET = 1,
  FORMAT_UNUSED = 2,
  FORMAT_XHTML = 3,
  FORMAT_XHTML_LIST = 4,
  FORMAT_RSS = 5,
  FORMAT_ASX = 6,
  FORMAT_SMIL = 7,
  FORMAT_BY_VALUE = 8,
};

// Line 0 stands for the record element itself; property lines are 1..100.
inline constexpr int SERIALIZE_MAX_LINES = 100;

struct SerializeLine {
  const char *name;
  const char *value;
  const char *attributes;  // " name=\"value\"" pieces
};

struct SerializeRecord {
  const char *element;  // null while a DIDL-Lite record's class is unknown
  SerializeLine lines[SERIALIZE_MAX_LINES + 1];
  int count;       // lines in use, counting line 0
  apr_hash_t *map;  // FORMAT_BY_VALUE: key -> unescaped value
  SerializeRecord *next;
};

struct SerializeBuffer {
  apr_pool_t *pool;
  SerializeFormat format;
  SerializeRecord *first;
  SerializeRecord *current;
};

// One output line of FORMAT_BY_VALUE.
struct SerializeTriple {
  const char *id;
  const char *key;
  const char *value;
};

// qsort-style comparator for FORMAT_BY_VALUE lines.
using SerializeCompare = int (*)(const SerializeTriple *a, const SerializeTriple *b);

// Every member may be null: the format's own header and footer, "," as the
// separator, lines in record and map order.
struct SerializeOptions {
  const char *header;
  const char *footer;
  const char *separator;
  SerializeCompare compare;
};

// The buffer, in a new child pool of parent. A value outside the formats
// logs the internal-error text and writes nothing (as FORMAT_UNUSED).
SerializeBuffer *serialize_create(apr_pool_t *parent, SerializeFormat format);

// Appends a record and makes it current. Without an element name the
// format's record element is used (for DIDL-Lite: decided by upnp:class).
// FORMAT_UNUSED logs the internal-error text and opens nothing.
void serialize_new_record(SerializeBuffer *buffer, const char *element);

// Adds a property to the current record: "name" sets the value of the n-th
// line of that name (from 0), "name@attr" adds an attribute to it, "@attr"
// one to the record element. The value must already be entity-escaped; it
// is copied. In the XML formats it is written as well-formed UTF-8 that XML
// 1.0 accepts: in "res", "upnp:albumArtURI" and "upnp:icon" (file URLs)
// malformed bytes, forbidden control bytes and '%' are percent-encoded, so
// that decoding the URL gives the file's name back ('%' is kept in a web
// URL, whose escapes are its own); in every other value
// malformed sequences become U+FFFD and forbidden controls are left out. A line beyond the 100th is dropped after "Internal static buffer
// too small, truncating...". DIDL-Lite records keep dc:title first and
// upnp:class second.
void serialize_add(SerializeBuffer *buffer, const char *name, int n, const char *value);

// serialize_add of the entity-escaped value.
void serialize_add_escaped(SerializeBuffer *buffer, const char *name, int n, const char *value);

// Moves line from to position to, shifting the lines in between by one.
// Returns 0, or 70013 for a null record ("NULL item") or a position outside
// 1..100 ("invalid line number. current:%d new:%d").
int serialize_move_line(SerializeRecord *record, int from, int to);

// Writes the whole document into pool and destroys the buffer (it must not
// be used afterwards). Returns 0.
int serialize_output(SerializeBuffer *buffer, apr_pool_t *pool, const SerializeOptions *options,
                     const char **text);

// Orders FORMAT_BY_VALUE lines by value, ignoring case.
int serialize_compare_value_nocase(const SerializeTriple *a, const SerializeTriple *b);
