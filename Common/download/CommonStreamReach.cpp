// Reaching the server of a stream URL: the default port of each stream
// scheme, the host and port taken from the URL, one TCP connection.
#include "CommonStreamReach.h"

#include <apr_network_io.h>
#include <apr_uri.h>

#include "CommonUrl.h"

namespace {

constexpr struct {
  const char *scheme;
  apr_port_t port;
} kStreamPorts[] = {
    {"mms://", 1755}, {"mmsh://", 80}, {"mmst://", 1755}, {"rtsp://", 554}, {"pnm://", 7070},
};

}  // namespace

int stream_reach(apr_pool_t *pool, const char *url) {
  apr_port_t port = 0;
  for (const auto &row : kStreamPorts) {
    if (url_has_scheme(url, row.scheme)) port = row.port;
  }
  apr_uri_t uri{};
  if (port == 0 || apr_uri_parse(pool, url, &uri) != APR_SUCCESS || uri.hostname == nullptr) return APR_NOTFOUND;
  if (uri.port != 0) port = uri.port;
  apr_sockaddr_t *address = nullptr;
  apr_status_t status = apr_sockaddr_info_get(&address, uri.hostname, APR_UNSPEC, port, 0, pool);
  if (status != APR_SUCCESS) return status;
  apr_socket_t *socket = nullptr;
  status = apr_socket_create(&socket, address->family, SOCK_STREAM, APR_PROTO_TCP, pool);
  if (status != APR_SUCCESS) return status;
  apr_socket_timeout_set(socket, apr_time_from_sec(STREAM_REACH_TIMEOUT_SECONDS));
  status = apr_socket_connect(socket, address);
  apr_socket_close(socket);
  return status;
}
