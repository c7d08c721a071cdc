// CommonUrl: what a text is as a URL: its scheme, whether it names something
// on the network, and the path a "file:" URL stands for. Every scheme test of
// the system is made here, with one case rule: schemes match in any case.
//
// Stateless and re-entrant; pointer results point into the argument.
#pragma once

// 1 when text holds "://" and does not start with "file://" (any case).
int url_is_remote(const char *text);
// 1 for a URL starting "http://" or "https://" (any case).
int url_is_http(const char *url);
// 1 for a URL of a scheme the engine fetches or hands to a player: http,
// https, mms, mmsh, mmst, rtsp and pnm. Entries of feeds must be such URLs.
int url_is_spoken(const char *url);
// 1 when url starts with scheme (given with its "://" or ":", any case).
int url_has_scheme(const char *url, const char *scheme);
// 1 for a URL with a well-formed scheme (a letter, then letters, digits, '+',
// '-' or '.') followed by "://" and something more.
int url_is_well_formed(const char *url);
// Text after the first "://", or null.
const char *url_after_scheme(const char *text);
// The path of a "file:" URL ("file:///a" and "file:/a" give "/a"); any other
// text as it is.
const char *url_file_path(const char *url);
