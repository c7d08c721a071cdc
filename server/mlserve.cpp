// mlserve: the media server. Run in the foreground from an installation
// folder (made by mlsetup): serves the library there to the players of the
// home network, keeping it current (folder watch, periodic refresh), until
// SIGTERM or SIGINT, then stops cleanly (SSDP byebye, connections closed, a
// running refresh rolled back). Prints the description URL of each served
// address on standard output once it serves.
//
// Exit status: 0 after a clean stop, 1 when start-up failed (the reason on
// standard error and in the log), 2 for bad usage.
#include <apr_network_io.h>
#include <apr_strings.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "Control.h"
#include "Description.h"
#include "DeviceNames.h"
#include "DeviceId.h"
#include "Events.h"
#include "FolderWatch.h"
#include "HttpServer.h"
#include "Icon.h"
#include "LibraryWatch.h"
#include "MSConfig.h"
#include "MLVersion.h"
#include "MSDB.h"
#include "Routes.h"
#include "ScanHost.h"
#include "ServerContext.h"
#include "Ssdp.h"
#include "Thumbnails.h"
#include "ToolSupport.h"
#include "log4c.h"

namespace {

constexpr const char *kProgram = "mlserve";
constexpr const char *kVersion = "2.7";
constexpr const char *kDeviceIdFile = "device.uuid";

struct Run {
  apr_pool_t *pool = nullptr;
  const MSConfig *config = nullptr;
  ServerContext server;
  HttpServer *http = nullptr;
  LibraryWatch *watch = nullptr;
  Ssdp *ssdp = nullptr;
};

void log_main(int level, const char *message) { log4c_log("mlserve", level, message, __FILE__, __LINE__); }

bool fail(const char *message) {
  log_main(LOG4C_ERROR, message);
  return false;
}

std::string friendly_name(apr_pool_t *pool, const MSConfig *config) {
  if (config->hostname != nullptr) return config->hostname;
  char name[APRMAXHOSTLEN + 1] = "";
  if (apr_gethostname(name, sizeof name, pool) != APR_SUCCESS || name[0] == '\0') return "Zentoria";
  return std::string("Zentoria on ") + name;
}

bool start_library(Run &run) {
  return msdb_init(run.pool, run.config->content_db_path, run.config->admin_db_path, &run.server.db) ==
         APR_SUCCESS;
}
void stop_library(Run &run) { msdb_terminate(run.server.db); }

bool start_scan(Run &run) { return scan_host_start(run.pool, run.server.db, run.config) == APR_SUCCESS; }
void stop_scan(Run &) { scan_host_stop(); }

bool start_identity(Run &run) {
  ServerContext &s = run.server;
  const char *uuid = nullptr;
  const char *file = apr_pstrcat(run.pool, msconfig_paths()->data_dir, kDeviceIdFile, nullptr);
  if (device_id(run.pool, file, &uuid) != APR_SUCCESS) return false;
  s.uuid = uuid;
  s.server_id = msconfig_paths()->server_id;
  while (!s.server_id.empty() && (s.server_id.back() == '\n' || s.server_id.back() == '\r')) s.server_id.pop_back();
  s.friendly_name = friendly_name(run.pool, run.config);
  s.version = kVersion;
  s.icon = icon_png(ICON_SIZE);
  s.source_protocol_info = cms_source_protocol_info();
  s.rules = access_rules_from(run.config->access_rules);
  s.allow_remote = run.config->allow_remote_connection != 0;
  if (interfaces_served(run.config->ip, &s.interfaces) != APR_SUCCESS) return false;
  return !s.interfaces.empty() || fail("No interface to serve on: set listen ip in config.xml");
}
void stop_identity(Run &) {}

bool start_events(Run &run) {
  const unsigned id = static_cast<unsigned>(apr_time_sec(apr_time_now()));
  run.server.system_update_id = id;
  const std::vector<EventVariables> initial = {
      {{"SystemUpdateID", std::to_string(id)}, {"ContainerUpdateIDs", ""}},
      {{"SourceProtocolInfo", run.server.source_protocol_info}, {"SinkProtocolInfo", ""},
       {"CurrentConnectionIDs", "0"}}};
  return events_start(initial, &run.server.events) == APR_SUCCESS;
}
void stop_events(Run &run) { events_stop(run.server.events); }

bool start_watch(Run &run) { return library_watch_start(&run.server, &run.watch) == APR_SUCCESS; }
void stop_watch(Run &run) { library_watch_stop(run.watch); }

bool start_folders(Run &run) {
  return folder_watch_start(&run.server, folder_watch_settings(), scan_host_refresh_interval(run.config),
                            &run.server.folders) == APR_SUCCESS;
}
void stop_folders(Run &run) { folder_watch_stop(run.server.folders); }

bool start_http(Run &run) {
  HttpSettings settings{};
  for (const ServedInterface &served : run.server.interfaces) settings.addresses.push_back(served.address);
  settings.port = run.config->port;
  settings.threads = run.config->max_thread;
  settings.max_connections = run.config->max_connections;
  settings.timeout_seconds = run.config->connection_timeout;
  settings.max_header_size = run.config->max_header_size;
  settings.server_id = run.server.server_id;
  settings.routes = ROUTES;
  settings.route_count = ROUTE_COUNT;
  settings.context = &run.server;
  settings.filter = routes_client_allowed;
  return http_start(settings, &run.http) == APR_SUCCESS;
}
void stop_http(Run &run) { http_stop(run.http); }

bool start_ssdp(Run &run) {
  SsdpSettings settings;
  settings.uuid = run.server.uuid;
  settings.server = run.server.server_id;
  settings.http_port = run.config->port;
  settings.description_path = DESCRIPTION_PATH;
  settings.max_age = run.config->ssdp_max_age;
  settings.device_type = DEVICE_TYPE;
  for (const ServiceInfo &service : SERVICES) settings.service_types.push_back(service.type);
  for (const ServedInterface &served : run.server.interfaces) {
    settings.interfaces.push_back({served.name, served.address});
  }
  settings.heard = device_names_heard;
  return ssdp_start(settings, &run.ssdp) == APR_SUCCESS;
}
void stop_ssdp(Run &run) { ssdp_stop(run.ssdp); }

bool start_device_names(Run &run) {
  return device_names_start(routes_device_allowed, &run.server, run.server.server_id) == APR_SUCCESS;
}
void stop_device_names(Run &) { device_names_stop(); }

bool start_thumbnails(Run &run) { return thumbnails_start(run.pool, msconfig_paths()->data_dir) == APR_SUCCESS; }

struct Step {
  const char *name;
  bool (*start)(Run &);
  void (*stop)(Run &);  // null when there is nothing to undo
};

// Started in this order, stopped in the reverse one: announcements end
// first, then requests, then what requests use.
constexpr Step kSteps[] = {
    {"library", start_library, stop_library},
    {"scan engine", start_scan, stop_scan},
    {"identity", start_identity, stop_identity},
    {"events", start_events, stop_events},
    {"library watch", start_watch, stop_watch},
    {"folder watch", start_folders, stop_folders},
    {"thumbnails", start_thumbnails, nullptr},
    {"HTTP server", start_http, stop_http},
    {"device names", start_device_names, stop_device_names},
    {"SSDP announcer", start_ssdp, stop_ssdp},
};

void print_urls(const Run &run) {
  for (const ServedInterface &served : run.server.interfaces) {
    std::printf("mlserve: serving http://%s:%u%s\n", served.address.c_str(), run.config->port, DESCRIPTION_PATH);
    log_main(LOG4C_INFO, log4c_sprintf("Serving http://%s:%u%s", served.address.c_str(), run.config->port,
                                       DESCRIPTION_PATH));
  }
  std::fflush(stdout);
}

int wait_for_stop(const sigset_t &signals) {
  int signal = 0;
  sigwait(&signals, &signal);
  log_main(LOG4C_INFO, log4c_sprintf("Stopping on signal %d", signal));
  return signal;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1) {
    if (ml_version_option(kProgram, argv[1])) return 0;
    const bool help = std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0;
    std::fprintf(help ? stdout : stderr, "usage: %s (run from an installation folder made by mlsetup)\n", kProgram);
    return help ? 0 : 2;
  }
  // Every thread started below inherits this mask: the signals reach sigwait only.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  ToolRun tool(kProgram);
  if (!tool.ok()) return 1;
  Run run;
  run.pool = tool.pool();
  const char *content_db = nullptr, *admin_db = nullptr;
  if (!tool.library_paths(".", argv[0], &content_db, &admin_db) || msconfig_get(&run.config) != APR_SUCCESS) return 1;
  msconfig_release();
  int started = 0;
  for (const Step &step : kSteps) {
    if (!step.start(run)) {
      std::fprintf(stderr, "%s: could not start the %s; see the log\n", kProgram, step.name);
      break;
    }
    ++started;
  }
  const bool serving = started == static_cast<int>(std::size(kSteps));
  if (serving) {
    print_urls(run);
    wait_for_stop(signals);
  }
  while (started > 0) {
    const Step &step = kSteps[--started];
    if (step.stop != nullptr) step.stop(run);
  }
  return serving ? 0 : 1;
}
