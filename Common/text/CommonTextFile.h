// CommonTextFile: reading lines and paragraphs of playlist-like text files,
// byte-order marks, and sniffing what a downloaded text is.
//
// The readers work on an open APR file and the caller's buffer; they keep no
// state between calls other than the file position. Re-entrant.
#pragma once

#include <apr_file_io.h>
#include <apr_pools.h>

#include <cstddef>

// Reads one line (ended by \n, \r or \r\n) into buffer (size bytes, NUL
// included). Returns 1 with a line, 0 at end of file with nothing read or
// after ERROR "Error reading meta file, reason: %s". With skip set, line ends
// before the first non-whitespace character stay in the line. A longer line
// is cut at size - 1 characters (ERROR "Line is too long, only first %d
// characters were processed") and its rest comes with the next call.
int text_read_line(apr_file_t *file, char *buffer, int size, int skip);
// Reads one paragraph: the next non-blank line and those after it up to a
// blank line, joined with \n. Returns 1, or 0 when nothing was read.
int text_read_block(apr_file_t *file, char *buffer, int size);
// Reads a byte-order mark at the start of file: "utf-8", "utf-16" or
// "utf-16be" in *encoding with the mark consumed. Without a mark the first
// byte is pushed back and both outputs are null. A mark cut short leaves in
// *pending the bytes consumed (EF BB, EF, FF or FE, NUL-terminated constant)
// and pushes back the byte that broke it. Returns 0, 70014 (APR_EOF) at end
// of file, or 20014 after ERROR "Text file encoding detection by BOM failed,
// reason %s ".
int text_detect_bom(apr_file_t *file, const char **encoding, const char **pending);

// 1 when data holds "<!DOCTYPE html", "<html" or "<xhtml" (any case): in the
// first 200 bytes unless whole is set; with strict set only when every byte
// before the match is printable or whitespace.
int text_is_html(const char *data, std::size_t length, int whole, int strict);
// As text_is_html for "<asx", "<rss", "<atom", "<rdf", "<opml", "<smil".
int text_is_playlist_xml(const char *data, std::size_t length, int whole, int strict);
// href of the first link element with rel "alternate" and type
// "application/rss+xml" (any case, either quote); null when none.
char *html_find_feed_link(apr_pool_t *pool, const char *page);
