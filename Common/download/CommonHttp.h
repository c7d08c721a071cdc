// CommonHttp: UPnP protocolInfo strings, HTTP byte ranges, the "${name}"
// template expander and URL query arguments.
//
// Results live in the caller's pool or buffers. Re-entrant.
#pragma once

#include <apr_pools.h>

#include <cstddef>

// Splits "protocol:network:format:info" (info takes the rest). Returns 0, or
// 20014 with all four set to null after ERROR "Invalid value of protocolInfo
// attribute %s".
int protocol_info_split(apr_pool_t *pool, const char *text, char **protocol, char **network,
                        char **format, char **info);
// "%s:%s:%s:%s".
char *protocol_info_join(apr_pool_t *pool, const char *protocol, const char *network,
                         const char *format, const char *info);
// The default HTTP form "http-get:*:<mime>:*".
char *protocol_info_http(apr_pool_t *pool, const char *mime);

// Parses "bytes=first-last", "bytes=first-" or "bytes=-n" (n stored as -n in
// *first). *last is 0 when absent. Returns 1, or 0 when malformed, when last
// is below first, or after the internal-error text for a number longer than
// 127 characters.
int http_range_parse(const char *text, apr_int64_t *first, apr_int64_t *last);
// "bytes first-last/total"; a negative first counts from the end and a last
// that is not positive becomes total - 1.
char *http_content_range_format(apr_pool_t *pool, apr_int64_t first, apr_int64_t last,
                                apr_int64_t total);

enum TemplateVarType : int { TEMPLATE_INT = 0, TEMPLATE_STRING = 1 };

// Replaces in place, in text (length bytes), every "${...}" equal to one of
// names (braces included, any case) by its value: values[i] points to an int
// for TEMPLATE_INT or is the text for TEMPLATE_STRING (converted from the
// system encoding when it is not UTF-8). A replacement is cut to the
// placeholder's length; a shorter one closes the gap and zero-fills the end.
// Returns 0, or 20014 after ERROR "Unknown variable type" or "Invalid
// template variable - missing closing braces" (text expanded up to there).
int template_expand(char *text, std::size_t length, const char *const *names,
                    const void *const *values, const int *types, int count);

// Parses "?a=1&b=2" (XML-unescaped first; separators "&", "&amp;" or
// "&amp;amp;") into names and URL-decoded values (pool texts). *count is the
// capacity on entry, the number of pairs on return, -1 when there were more.
// An empty or null text gives 0 pairs. Returns 0, or 20014 after ERROR
// "Invalid URL arguments for url %s at %s".
int url_args_parse(apr_pool_t *pool, const char *text, const char **names, const char **values,
                   int *count);
