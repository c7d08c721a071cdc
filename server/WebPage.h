// WebPage: the read-only page at the server's root URL and the JSON it reads
// (WEB_STATUS_PATH): the shared sources with their item counts and last
// refresh, the recent user-log messages, the clients and the interfaces. The
// page opens the library's tree level by level with the server's own
// ContentDirectory Browse. The page is one static document with a little
// script and no outside resource; every text from the library reaches it as
// JSON or DIDL-Lite and is written as text, never as markup. Handlers run on
// the request threads and read shared state under its own locks.
#pragma once

#include <string>

#include "HttpServer.h"

inline constexpr const char *WEB_PAGE_PATH = "/";
inline constexpr const char *WEB_STATUS_PATH = "/web/status.json";

// text as a JSON string literal, quotes included; '<', '>' and '&' escaped too,
// so that the text is inert wherever it lands.
std::string json_string(const std::string &text);

void web_page(void *context, HttpRequest &request, HttpResponse &response);
void web_status(void *context, HttpRequest &request, HttpResponse &response);

// The document served at WEB_PAGE_PATH.
extern const char *const WEB_PAGE_DOCUMENT;
