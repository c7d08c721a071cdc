// HttpServer: mlserve's HTTP front, over libmicrohttpd: one daemon per
// served address, each with a pool of request threads (epoll; no more than
// the cores), a connection limit, an idle timeout and a cap on the request
// line and headers. Requests are dispatched by method and path prefix to the
// handlers of a route table; bodies are collected up to HTTP_MAX_BODY bytes
// (more is refused with 413).
// Handlers run on the daemon's threads, several at once: they may use only
// what is safe to share. Each request has a pool of its own, destroyed with
// the request. Logs on "Http".
#pragma once

#include <apr_pools.h>

#include <string>
#include <vector>

inline constexpr std::size_t HTTP_MAX_BODY = 65536;

// What a handler sees of a request.
struct HttpServerRequest {
  apr_pool_t *pool;
  struct MHD_Connection *connection;
  const char *method;
  const char *path;      // the URL path, without the query
  const char *client;    // the client's IPv4 address, dotted
  const char *base_url;  // "http://<the address the client reached>:<port>"
  std::string body;
  // Filled by a handler that wants its function called once the response
  // has gone out (the initial GENA event must follow the SUBSCRIBE answer).
  void (*after)(void *value) = nullptr;
  void *after_value = nullptr;
};

// A request header, or null.
const char *http_header(const HttpServerRequest &request, const char *name);

// A response: a text body, or a file descriptor range (sent with sendfile;
// the response owns the descriptor), plus headers.
struct HttpResponse {
  unsigned status = 200;
  std::string content_type;
  std::string body;
  int fd = -1;
  apr_uint64_t offset = 0;
  apr_uint64_t length = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  // For a refusal (status 400 and up): why, for the one log line it gets.
  std::string note;
};

using HttpHandler = void (*)(void *context, HttpServerRequest &request, HttpResponse &response);

struct HttpRoute {
  const char *method;  // exact, e.g. "GET" (HEAD is served by the GET routes)
  const char *prefix;  // path prefix
  bool exact;          // the path must equal prefix
  HttpHandler handler;
};

// Decides whether a client may connect at all (before any byte is read).
using HttpClientFilter = bool (*)(void *context, const char *client);

struct HttpSettings {
  std::vector<std::string> addresses;  // IPv4 addresses to listen on
  unsigned port;
  unsigned threads;          // most request threads (never more than the cores), shared out between the addresses
  unsigned max_connections;  // shared out likewise
  unsigned timeout_seconds;
  unsigned max_header_size;
  std::string server_id;  // the Server header of every response
  const HttpRoute *routes;
  int route_count;
  void *context;
  HttpClientFilter filter;
};

struct HttpServer;

// Starts listening. Returns 0, or 20014 after "Could not listen on %s:%u"
// (nothing is left running).
int http_start(const HttpSettings &settings, HttpServer **out);

// Closes the listening sockets and every connection, waits for the request
// threads and frees the server. Null is ignored.
void http_stop(HttpServer *server);

// A short text answer (errors): status and a one-line body, also its note.
void http_text(HttpResponse &response, unsigned status, const char *text);
