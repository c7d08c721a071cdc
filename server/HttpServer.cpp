// The libmicrohttpd daemons, the request life cycle (state, body, dispatch,
// response) and the refusals made before a handler runs.
#include "HttpServer.h"

#include <apr_strings.h>
#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kModule = "Http";

struct Daemon {
  HttpServer *server;
  std::string base_url;
  MHD_Daemon *mhd = nullptr;
};

}  // namespace

struct HttpServer {
  HttpSettings settings;
  std::vector<std::unique_ptr<Daemon>> daemons;
};

namespace {

struct RequestState {
  Pool pool{nullptr, kModule};
  HttpServerRequest request{};
  const HttpRoute *route = nullptr;
  bool too_large = false;
};

void log_http(int level, const char *message) { log4c_log(kModule, level, message, __FILE__, __LINE__); }

void mhd_log(void *, const char *format, va_list args) {
  char *message = log4c_vprintf(format, args);
  const std::size_t length = std::strlen(message);
  if (length > 0 && message[length - 1] == '\n') message[length - 1] = '\0';
  log_http(LOG4C_WARN, message);
}

const char *client_address(apr_pool_t *pool, MHD_Connection *connection) {
  const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  char text[INET_ADDRSTRLEN] = "";
  if (info != nullptr && info->client_addr != nullptr && info->client_addr->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(info->client_addr)->sin_addr, text, sizeof text);
  }
  return apr_pstrdup(pool, text);
}

MHD_Result accept_client(void *cls, const sockaddr *address, socklen_t) {
  auto *daemon = static_cast<Daemon *>(cls);
  const HttpSettings &settings = daemon->server->settings;
  if (address->sa_family != AF_INET) return MHD_NO;
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text, sizeof text);
  if (settings.filter == nullptr || settings.filter(settings.context, text)) return MHD_YES;
  log_http(LOG4C_WARN, log4c_sprintf("Refused a connection from %s: not on a local network", text));
  return MHD_NO;
}

const HttpRoute *find_route(const HttpSettings &settings, const char *method, const char *path) {
  const char *as = std::strcmp(method, "HEAD") == 0 ? "GET" : method;
  for (int i = 0; i < settings.route_count; ++i) {
    const HttpRoute &route = settings.routes[i];
    if (std::strcmp(route.method, as) != 0) continue;
    const std::size_t length = std::strlen(route.prefix);
    if (std::strncmp(path, route.prefix, length) != 0) continue;
    if (route.exact && path[length] != '\0') continue;
    return &route;
  }
  return nullptr;
}

// A path some route serves, by any method (an exact route only its own path).
bool path_known(const HttpSettings &settings, const char *path) {
  for (int i = 0; i < settings.route_count; ++i) {
    const HttpRoute &route = settings.routes[i];
    const std::size_t length = std::strlen(route.prefix);
    if (std::strncmp(path, route.prefix, length) == 0 && (!route.exact || path[length] == '\0')) return true;
  }
  return false;
}

MHD_Result send(MHD_Connection *connection, const HttpSettings &settings, HttpResponse &response) {
  MHD_Response *mhd =
      response.fd >= 0
          ? MHD_create_response_from_fd_at_offset64(response.length, response.fd, response.offset)
          : MHD_create_response_from_buffer(response.body.size(), response.body.data(), MHD_RESPMEM_MUST_COPY);
  if (mhd == nullptr) {
    if (response.fd >= 0) close(response.fd);
    return MHD_NO;
  }
  MHD_add_response_header(mhd, MHD_HTTP_HEADER_SERVER, settings.server_id.c_str());
  if (!response.content_type.empty()) {
    MHD_add_response_header(mhd, MHD_HTTP_HEADER_CONTENT_TYPE, response.content_type.c_str());
  }
  for (const auto &[name, value] : response.headers) MHD_add_response_header(mhd, name.c_str(), value.c_str());
  MHD_Result result = MHD_queue_response(connection, response.status, mhd);
  MHD_destroy_response(mhd);
  return result;
}

MHD_Result refuse(MHD_Connection *connection, const HttpSettings &settings, const HttpServerRequest &request,
                  unsigned status, const char *reason) {
  log_http(LOG4C_WARN, log4c_sprintf("%s %s from %s: %u %s", request.method, request.path, request.client, status,
                                     reason));
  HttpResponse response;
  http_text(response, status, reason);
  response.headers.emplace_back("Connection", "close");
  return send(connection, settings, response);
}

RequestState *begin_request(Daemon *daemon, MHD_Connection *connection, const char *url, const char *method) {
  auto *state = new RequestState;
  HttpServerRequest &request = state->request;
  request.pool = state->pool;
  request.connection = connection;
  request.method = apr_pstrdup(state->pool, method);
  request.path = apr_pstrdup(state->pool, url);
  request.client = client_address(state->pool, connection);
  request.base_url = daemon->base_url.c_str();
  state->route = find_route(daemon->server->settings, method, url);
  return state;
}

MHD_Result handle(void *cls, MHD_Connection *connection, const char *url, const char *method, const char *,
                  const char *upload_data, size_t *upload_size, void **con_cls) {
  auto *daemon = static_cast<Daemon *>(cls);
  const HttpSettings &settings = daemon->server->settings;
  auto *state = static_cast<RequestState *>(*con_cls);
  if (state == nullptr) {
    *con_cls = state = begin_request(daemon, connection, url, method);
    const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length != nullptr && std::strtoull(length, nullptr, 10) > HTTP_MAX_BODY) {
      return refuse(connection, settings, state->request, MHD_HTTP_CONTENT_TOO_LARGE, "Request body too large");
    }
    return MHD_YES;
  }
  HttpServerRequest &request = state->request;
  if (*upload_size > 0) {
    // A body without a length that grows too large is read and dropped:
    // the answer can only be queued once it has ended.
    state->too_large = state->too_large || request.body.size() + *upload_size > HTTP_MAX_BODY;
    if (!state->too_large) request.body.append(upload_data, *upload_size);
    *upload_size = 0;
    return MHD_YES;
  }
  if (state->too_large) {
    return refuse(connection, settings, request, MHD_HTTP_CONTENT_TOO_LARGE, "Request body too large");
  }
  if (state->route == nullptr) {
    const bool known = path_known(settings, request.path);
    return refuse(connection, settings, request, known ? MHD_HTTP_METHOD_NOT_ALLOWED : MHD_HTTP_NOT_FOUND,
                  known ? "Method not allowed" : "Not found");
  }
  HttpResponse response;
  state->route->handler(settings.context, request, response);
  if (response.status >= 400) {
    log_http(LOG4C_WARN, log4c_sprintf("%s %s from %s: %u %s", request.method, request.path, request.client,
                                       response.status, response.note.c_str()));
  }
  return send(connection, settings, response);
}

void request_done(void *, MHD_Connection *, void **con_cls, MHD_RequestTerminationCode code) {
  auto *state = static_cast<RequestState *>(*con_cls);
  if (state == nullptr) return;
  if (code == MHD_REQUEST_TERMINATED_COMPLETED_OK && state->request.after != nullptr) {
    state->request.after(state->request.after_value);
  }
  delete state;
  *con_cls = nullptr;
}

// Request threads beyond the cores only race for each accepted connection
// (a pool of 50 on 2 cores failed 96% of its accept calls) and each holds a
// library connection with its page cache: the pool is sized to the cores,
// with the configured count as the upper bound. A request never blocks on
// a client: epoll serves slow clients on the same threads.
unsigned request_threads(unsigned configured) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::max(1u, std::min(configured, cores));
}

unsigned share(unsigned total, std::size_t parts) {
  const unsigned each = total / static_cast<unsigned>(parts);
  return each > 0 ? each : 1;
}

int start_daemon(HttpServer *server, const std::string &address, Daemon *daemon) {
  const HttpSettings &s = server->settings;
  sockaddr_in bind_to{};
  bind_to.sin_family = AF_INET;
  bind_to.sin_port = htons(static_cast<uint16_t>(s.port));
  if (inet_pton(AF_INET, address.c_str(), &bind_to.sin_addr) != 1) return APR_EGENERAL;
  daemon->server = server;
  daemon->base_url = "http://" + address + ":" + std::to_string(s.port);
  const std::size_t parts = s.addresses.size();
  // Each worker thread gets an equal share of the connection limit: never
  // more workers than connections, or some would accept none.
  const unsigned connections = share(s.max_connections, parts);
  const unsigned threads = std::min(share(request_threads(s.threads), parts), connections);
  daemon->mhd = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC | MHD_USE_ERROR_LOG, static_cast<uint16_t>(s.port),
      accept_client, daemon, handle, daemon, MHD_OPTION_EXTERNAL_LOGGER, mhd_log, nullptr, MHD_OPTION_SOCK_ADDR,
      &bind_to, MHD_OPTION_THREAD_POOL_SIZE, threads, MHD_OPTION_CONNECTION_LIMIT, connections,
      MHD_OPTION_CONNECTION_TIMEOUT, s.timeout_seconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      static_cast<size_t>(s.max_header_size), MHD_OPTION_NOTIFY_COMPLETED, request_done, nullptr,
      MHD_OPTION_END);
  return daemon->mhd != nullptr ? APR_SUCCESS : APR_EGENERAL;
}

}  // namespace

const char *http_header(const HttpServerRequest &request, const char *name) {
  return MHD_lookup_connection_value(request.connection, MHD_HEADER_KIND, name);
}

void http_text(HttpResponse &response, unsigned status, const char *text) {
  response.status = status;
  response.content_type = "text/plain; charset=utf-8";
  response.body = std::string(text) + "\n";
  response.note = text;
}

int http_start(const HttpSettings &settings, HttpServer **out) {
  auto server = std::make_unique<HttpServer>();
  server->settings = settings;
  for (const std::string &address : settings.addresses) {
    server->daemons.push_back(std::make_unique<Daemon>());
    if (start_daemon(server.get(), address, server->daemons.back().get()) != APR_SUCCESS) {
      log_http(LOG4C_ERROR, log4c_sprintf("Could not listen on %s:%u", address.c_str(), settings.port));
      http_stop(server.release());
      return APR_EGENERAL;
    }
  }
  *out = server.release();
  return APR_SUCCESS;
}

void http_stop(HttpServer *server) {
  if (server == nullptr) return;
  for (auto &daemon : server->daemons) {
    if (daemon->mhd != nullptr) MHD_stop_daemon(daemon->mhd);
  }
  delete server;
}
