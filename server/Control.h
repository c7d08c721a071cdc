// Control: the SOAP control URLs of the two services: reads the envelope,
// finds the action in the service's table and writes its response or its
// UPnP fault (HTTP 500). A body that is not a SOAP envelope, or that
// declares a document type or entities, gets 400. Runs on request threads;
// each action runs in one read transaction of the thread's library connection.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "HttpServer.h"
#include "ServerContext.h"
#include "Soap.h"

// UPnP error codes the actions answer with.
enum UpnpError : int {
  UPNP_OK = 0,
  UPNP_INVALID_ACTION = 401,
  UPNP_INVALID_ARGS = 402,
  UPNP_NO_SUCH_OBJECT = 701,
  UPNP_INVALID_CONNECTION = 706,
  UPNP_BAD_SEARCH_CRITERIA = 708,
  UPNP_BAD_SORT_CRITERIA = 709,
  UPNP_NO_SUCH_CONTAINER = 710,
  UPNP_CANNOT_PROCESS = 720,
};

struct ActionCall {
  const ServerContext &server;
  const HttpServerRequest &request;
  const SoapAction &action;
  std::vector<std::pair<const char *, std::string>> outputs;
  // The argument called name, or null when the request lacks it.
  const std::string *argument(const char *name) const;
};

using ActionFn = int (*)(ActionCall &call);
struct ActionEntry {
  const char *name;
  ActionFn run;
};

// The actions of ContentDirectory:1 and ConnectionManager:1.
extern const ActionEntry CDS_ACTIONS[];
extern const int CDS_ACTION_COUNT;
extern const ActionEntry CMS_ACTIONS[];
extern const int CMS_ACTION_COUNT;
// And of X_MS_MediaReceiverRegistrar:1.
extern const ActionEntry REGISTRAR_ACTIONS[];
extern const int REGISTRAR_ACTION_COUNT;

// HttpHandler for POST on a control URL (context: the ServerContext).
void control_handle(void *context, HttpServerRequest &request, HttpResponse &response);

// The source protocols of GetProtocolInfo: one per MIME type of the media
// the library can hold.
std::string cms_source_protocol_info();
