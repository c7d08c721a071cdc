// CommonXML: three ways to read XML, all over expat.
//
// A small file becomes an APR-util element tree (the configuration file); a
// small buffer becomes a flat hash of path-like keys; a file of any size is
// streamed through the caller's expat handlers in 4096-byte blocks. Trees and
// hashes live in the caller's pool; every function is re-entrant. Failures
// are logged on "CommonXML"; no partial tree or hash is handed out.
#pragma once

#include <apr_hash.h>
#include <apr_pools.h>
#include <apr_xml.h>
#include <expat.h>

// Reads the file at path into *doc (allocated in pool).
// Returns 0, or 20014 when the file cannot be opened, parsed or closed.
int xml_read_file_tree(apr_pool_t *pool, const char *path, apr_xml_doc **doc);

// The value of the element's attribute whose name equals name ignoring case,
// or null.
const char *xml_attr_get(const apr_xml_elem *elem, const char *name);

// Sets (a pool copy of) value on the attribute called name (ignoring case),
// appending the attribute with the element's namespace when it is missing;
// a null value unlinks it. Returns 0, or 20014 for a null element.
int xml_attr_set(apr_pool_t *pool, apr_xml_elem *elem, const char *name, const char *value);

// The element's leading text (the text before its first child) copied into
// pool, or null when it has none or elem is null.
const char *xml_elem_text(apr_pool_t *pool, const apr_xml_elem *elem);

// Replaces the element's leading text by a copy of text (no text when null)
// and drops the text that follows the element. Returns 0, or 20014 for a null
// element.
int xml_elem_set_text(apr_pool_t *pool, apr_xml_elem *elem, const char *text);

// Parses a whole document held in memory and flattens it into *hash, in a
// child pool of pool: text under "a/b/c", attributes under "a/b/c@name", the
// n-th repeated sibling (from 0) under "a/b[n]" for n > 0, and the number of
// siblings seen for a plain path under "a/b/last()".
// Returns 0, or 20014 (with *hash null) when the text is not a document.
int xml_parse_buffer_to_hash(apr_pool_t *pool, const char *buffer, apr_size_t length, apr_hash_t **hash);

// Streams the file at path through expat with the given handlers and
// user_data (a caller's encoding handler gets user_data too). Without an
// encoding handler, xml_unknown_encoding_handler reads single-byte encodings
// that expat does not know.
// Returns 0, or 20014 when the file cannot be opened or read, or the document
// is not well-formed (the user is told "Bad XML file encountered,
// skipping...").
int xml_parse_file_stream(const char *path, XML_StartElementHandler start, XML_EndElementHandler end,
                          XML_CharacterDataHandler characters, XML_UnknownEncodingHandler encoding,
                          void *user_data);

// As xml_parse_file_stream with a parser the caller created and set up, so
// that its handlers can stop it (XML_StopParser). Returns 0, 4 when a handler
// stopped the parser (nothing logged), or 20014 as xml_parse_file_stream.
// Without whole the file is the start of a document: its end is not checked.
int xml_parse_file_with(XML_Parser parser, const char *path, bool whole = true);

// expat unknown-encoding handler for single-byte code pages; data is a pool.
// A byte the code page leaves undefined maps to 0, which expat rejects as an
// invalid character. Returns 1, or 0 (document rejected) when the encoding
// cannot be converted.
int xml_unknown_encoding_handler(void *data, const XML_Char *name, XML_Encoding *info);
