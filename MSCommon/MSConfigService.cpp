// The service section: start-up, the listening socket and its remote-access
// settings, access rules and the thread pool.
#include <apr_strings.h>

#include <cstring>

#include "Common.h"
#include "CommonXML.h"
#include "MSConfigRead.h"

namespace {

constexpr unsigned int kMaxPort = 65535;

// Credentials are kept Base64-encoded; a value that already ends with the
// Base64 padding character is taken as encoded.
const char *encoded_credentials(apr_pool_t *pool, const char *value) {
  size_t length = strlen(value);
  if (length > 0 && value[length - 1] == '=') return apr_pstrdup(pool, value);
  return str_base64(pool, value);
}

void read_listen(MSConfigLoader &loader, const apr_xml_elem *elem) {
  MSConfig &c = *loader.config;
  if (const char *admin = xml_attr_get(elem, "adminUP")) c.admin_up = encoded_credentials(loader.pool, admin);
  config_attr_text(loader.pool, elem, "relayServer", &c.relay_server);
  config_attr_text(loader.pool, elem, "relayServerAuth", &c.relay_server_auth);
  config_attr_uint(elem, "relayServerReconnectTimeout", &c.relay_server_reconnect_timeout);
  unsigned int port = 0;
  if (config_attr_uint(elem, "port", &port) && port <= kMaxPort) c.port = port;
  if (!config_attr_nonempty(loader.pool, elem, "ip", &c.ip)) c.ip = nullptr;
  config_attr_bool(elem, "allowRemoteConnection", &c.allow_remote_connection);
  config_attr_uint(elem, "ssdpMaxAge", &c.ssdp_max_age);
  config_attr_uint(elem, "maxConnections", &c.max_connections);
  config_attr_uint(elem, "connectionTimeout", &c.connection_timeout);
  config_attr_uint(elem, "maxHeaderSize", &c.max_header_size);
}

void add_rule(MSConfigLoader &loader, const apr_xml_elem *elem, int allowed) {
  auto *rule = static_cast<MSConfigAccessRule *>(apr_pcalloc(loader.pool, sizeof(MSConfigAccessRule)));
  rule->allowed = allowed;
  config_attr_text(loader.pool, elem, "from", &rule->from);
  config_attr_text(loader.pool, elem, "path", &rule->path);
  config_attr_text(loader.pool, elem, "libpath", &rule->libpath);
  rule->next = loader.config->access_rules;
  loader.config->access_rules = rule;
}

void read_thread_pool(MSConfigLoader &loader, const apr_xml_elem *elem) {
  MSConfig &c = *loader.config;
  config_attr_uint(elem, "minThread", &c.min_thread);
  config_attr_uint(elem, "maxThread", &c.max_thread);
  config_attr_uint(elem, "jobsPerThread", &c.jobs_per_thread);
  config_attr_uint(elem, "threadIdleTime", &c.thread_idle_time);
}

constexpr MSConfigChildHandler kServiceChildren[] = {
    {"listen", read_listen},
    {"auth", [](MSConfigLoader &l, const apr_xml_elem *e) { add_rule(l, e, 1); }},
    {"noauth", [](MSConfigLoader &l, const apr_xml_elem *e) { add_rule(l, e, 0); }},
    {"threadPool", read_thread_pool},
};

}  // namespace

void config_read_service(MSConfigLoader &loader, const apr_xml_elem *elem) {
  config_attr_bool(elem, "autoStart", &loader.config->auto_start);
  config_attr_nonempty(loader.pool, elem, "hostname", &loader.config->hostname);
  config_visit_children(loader, elem, kServiceChildren);
}
