// The route table and the handlers of the fixed documents and of eventing.
#include "Routes.h"

#include <apr_strings.h>

#include <cstring>
#include <string>

#include "ClientList.h"
#include "ClientProfiles.h"
#include "Control.h"
#include "Description.h"
#include "DidlUrls.h"
#include "Events.h"
#include "Media.h"
#include "ServerContext.h"
#include "Thumbnails.h"
#include "WebPage.h"

namespace {

constexpr const char *kXmlType = "text/xml; charset=\"utf-8\"";

// True when the access rules let the request through; else the response is 403.
bool admitted(void *context, const HttpServerRequest &request, HttpResponse &response) {
  const auto *server = static_cast<const ServerContext *>(context);
  client_list_note(request.client, http_header(request, "User-Agent"));
  if (access_allowed(server->rules, request.client, request.path, nullptr)) return true;
  http_text(response, 403, "Forbidden");
  return false;
}

template <HttpHandler handler>
void guarded(void *context, HttpServerRequest &request, HttpResponse &response) {
  if (admitted(context, request, response)) handler(context, request, response);
}

void description(void *context, HttpServerRequest &request, HttpResponse &response) {
  const auto *server = static_cast<const ServerContext *>(context);
  response.content_type = kXmlType;
  response.body = description_device(server->friendly_name.c_str(), server->uuid.c_str(), server->version.c_str(),
                                     client_profile(request).quirks);
}

void scpd(void *, HttpServerRequest &request, HttpResponse &response) {
  response.body = description_scpd(request.path);
  if (response.body.empty()) return http_text(response, 404, "Not found");
  response.content_type = kXmlType;
}

void icon(void *context, HttpServerRequest &, HttpResponse &response) {
  response.content_type = "image/png";
  response.body = static_cast<const ServerContext *>(context)->icon;
}

int event_service(const char *path) {
  for (int i = 0; i < static_cast<int>(std::size(SERVICES)); ++i) {
    if (std::strcmp(path, SERVICES[i].event_path) == 0) return i;
  }
  return -1;
}

EventRequest event_request(const HttpServerRequest &request) {
  return {event_service(request.path), request.client, http_header(request, "CALLBACK"),
          http_header(request, "NT"), http_header(request, "SID"), http_header(request, "TIMEOUT")};
}

struct PendingEvent {
  Events *events;
  const char *sid;
};

void send_initial(void *value) {
  auto *pending = static_cast<PendingEvent *>(value);
  events_send_initial(pending->events, pending->sid);
}

void subscribe(void *context, HttpServerRequest &request, HttpResponse &response) {
  auto *server = static_cast<ServerContext *>(context);
  const EventRequest asked = event_request(request);
  if (asked.service < 0) return http_text(response, 404, "Not found");
  const EventAnswer answer = events_subscribe(server->events, asked);
  if (answer.status != 200) return http_text(response, answer.status, answer.refusal);
  response.headers = {{"SID", answer.sid}, {"TIMEOUT", "Second-" + std::to_string(answer.timeout)}};
  if (asked.sid == nullptr) {
    auto *pending = static_cast<PendingEvent *>(apr_palloc(request.pool, sizeof(PendingEvent)));
    *pending = {server->events, apr_pstrdup(request.pool, answer.sid.c_str())};
    request.after = send_initial;
    request.after_value = pending;
  }
}

void unsubscribe(void *context, HttpServerRequest &request, HttpResponse &response) {
  auto *server = static_cast<ServerContext *>(context);
  const EventRequest asked = event_request(request);
  if (asked.service < 0) return http_text(response, 404, "Not found");
  const unsigned status = events_unsubscribe(server->events, asked);
  if (status != 200) http_text(response, status, "Unsubscription refused");
}

}  // namespace

const HttpRoute ROUTES[] = {
    {"GET", DESCRIPTION_PATH, true, guarded<description>},
    {"GET", SERVICES[0].scpd_path, true, guarded<scpd>},
    {"GET", SERVICES[1].scpd_path, true, guarded<scpd>},
    {"GET", REGISTRAR.scpd_path, true, guarded<scpd>},
    {"GET", ICON_PATH, true, guarded<icon>},
    {"POST", "/control/", false, guarded<control_handle>},
    {"SUBSCRIBE", "/event/", false, guarded<subscribe>},
    {"UNSUBSCRIBE", "/event/", false, guarded<unsubscribe>},
    {"GET", MEDIA_PATH, false, guarded<media_serve>},
    {"GET", SUBTITLE_PATH, false, guarded<media_serve_subtitle>},
    {"GET", WEB_PAGE_PATH, true, guarded<web_page>},
    {"GET", WEB_STATUS_PATH, true, guarded<web_status>},
    {"GET", THUMB_PATH, false, guarded<thumbnails_serve>},
};
const int ROUTE_COUNT = static_cast<int>(std::size(ROUTES));

bool routes_client_allowed(void *context, const char *client) {
  const auto *server = static_cast<const ServerContext *>(context);
  return server->allow_remote || interfaces_reach(server->interfaces, client);
}

bool routes_device_allowed(void *context, const char *address) {
  const auto *server = static_cast<const ServerContext *>(context);
  return routes_client_allowed(context, address) && access_allowed(server->rules, address, "/", nullptr);
}
