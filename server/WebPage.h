// WebPage: the read-only page at the server's root URL and its JSON
// (WEB_STATUS_PATH): sources with item counts and last refresh, recent
// user-log messages, clients, interfaces. The page opens the tree level by
// level through the server's own Browse; one static document, no outside
// resource, every library text written as text. Handlers run on the request
// threads and read shared state under its own locks.
#pragma once

#include <string>

#include "HttpServer.h"

inline constexpr const char *WEB_PAGE_PATH = "/";
inline constexpr const char *WEB_STATUS_PATH = "/web/status.json";

// text as a JSON string literal, quotes included; '<', '>' and '&' escaped too,
// so that the text is inert wherever it lands.
std::string json_string(const std::string &text);

void web_page(void *context, HttpServerRequest &request, HttpResponse &response);
void web_status(void *context, HttpServerRequest &request, HttpResponse &response);

// The document served at WEB_PAGE_PATH.
extern const char *const WEB_PAGE_DOCUMENT;
