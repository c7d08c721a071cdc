// CommonEscape: XML entity escaping, HTML entity decoding, URL encoding and
// text made safe for a terminal.
//
// Text stored in the library is XML-escaped; escaping is idempotent so that
// text escaped twice reads the same. Results live in the caller's pool.
// Stateless and re-entrant.
#pragma once

#include <apr_pools.h>

// ' > < " become &apos; &gt; &lt; &quot;; '&' becomes &amp; unless it already
// starts one of those five entities (any case; one in another case is written
// in lower case, as XML spells it). Null gives null.
char *xml_escape(apr_pool_t *pool, const char *text);
// The five entities (any case) back to their characters; other '&' copied.
// Null gives null.
char *xml_unescape(apr_pool_t *pool, const char *text);
// Decodes the 34 common HTML entities to single bytes (accented letters to
// their plain ASCII letter). Null when text is null or the result does not
// fit in 4096 bytes (ERROR "Internal static buffer too small, truncating...").
char *html_unescape(apr_pool_t *pool, const char *text);
// Keeps letters, digits and !()*-._~; with plus set a space becomes '+';
// every other byte becomes %xx (lower-case hex). Output is limited to 4095
// characters: past that ERROR "URI %s is too long, trimming..." and the text
// built so far is returned. Null gives null.
char *url_encode(apr_pool_t *pool, const char *text, int plus);
// %xx (two hex digits) to its byte, '+' to a space; null gives null.
char *url_decode(apr_pool_t *pool, const char *text);
// text as a terminal may print it: C0 control bytes, DEL and the C1
// controls (U+0080-U+009F, as UTF-8 or as single bytes) become \xHH, so that
// a name cannot move the cursor or send escape sequences. Null gives "".
char *text_for_terminal(apr_pool_t *pool, const char *text);
