// SOAP dispatch to the service tables, and the fault texts.
#include "Control.h"

#include <cstring>

#include "Description.h"
#include "MSDBConnection.h"

namespace {

struct ErrorText {
  int code;
  const char *text;
};
constexpr ErrorText kErrors[] = {
    {UPNP_INVALID_ACTION, "Invalid Action"},
    {UPNP_INVALID_ARGS, "Invalid Args"},
    {UPNP_NO_SUCH_OBJECT, "No such object"},
    {UPNP_INVALID_CONNECTION, "Invalid connection reference"},
    {UPNP_BAD_SEARCH_CRITERIA, "Unsupported or invalid search criteria"},
    {UPNP_BAD_SORT_CRITERIA, "Unsupported or invalid sort criteria"},
    {UPNP_NO_SUCH_CONTAINER, "No such container"},
    {UPNP_CANNOT_PROCESS, "Cannot process the request"},
};

struct ServiceActions {
  const char *control_path;
  const char *type;
  const ActionEntry *actions;
  const int *count;
};
constexpr ServiceActions kServices[] = {
    {SERVICES[0].control_path, SERVICES[0].type, CDS_ACTIONS, &CDS_ACTION_COUNT},
    {SERVICES[1].control_path, SERVICES[1].type, CMS_ACTIONS, &CMS_ACTION_COUNT},
    {REGISTRAR.control_path, REGISTRAR.type, REGISTRAR_ACTIONS, &REGISTRAR_ACTION_COUNT},
};

const char *error_text(int code) {
  for (const ErrorText &e : kErrors) {
    if (e.code == code) return e.text;
  }
  return "Action Failed";
}

void fault(HttpResponse &response, const SoapAction &action, int code) {
  response.note = action.name + ": UPnP error " + std::to_string(code) + " " + error_text(code);
  response.status = 500;
  response.content_type = "text/xml; charset=\"utf-8\"";
  response.body = soap_fault(code, error_text(code));
}

ActionFn find_action(const ServiceActions &service, const std::string &name) {
  for (int i = 0; i < *service.count; ++i) {
    if (name == service.actions[i].name) return service.actions[i].run;
  }
  return nullptr;
}

// Runs an action inside one read transaction of the thread's library
// connection: its queries then share one lock, one hot-journal check and one
// cache validation (a Browse ran as nine transactions without it). It ends
// with a commit, which keeps the connection's interned oids (a rollback
// forgets them); nothing was written.
int run_in_read_transaction(ActionFn run, ActionCall &call) {
  if (msdb_medialib_begin(call.server.db) != APR_SUCCESS) return UPNP_CANNOT_PROCESS;
  const int error = run(call);
  if (msdb_medialib_commit(call.server.db) != APR_SUCCESS) {
    msdb_medialib_rollback(call.server.db);
    return UPNP_CANNOT_PROCESS;
  }
  return error;
}

}  // namespace

const std::string *ActionCall::argument(const char *name) const {
  auto found = action.arguments.find(name);
  return found != action.arguments.end() ? &found->second : nullptr;
}

void control_handle(void *context, HttpServerRequest &request, HttpResponse &response) {
  const auto &server = *static_cast<const ServerContext *>(context);
  const ServiceActions *service = nullptr;
  for (const ServiceActions &s : kServices) {
    if (std::strcmp(request.path, s.control_path) == 0) service = &s;
  }
  SoapAction action;
  const SoapParse parsed = service != nullptr ? soap_parse(request.body, &action) : SoapParse::malformed;
  if (parsed != SoapParse::ok) {
    http_text(response, 400, parsed == SoapParse::refused_dtd ? "Document types and entities are refused"
                                                                : "Not a SOAP action request");
    return;
  }
  ActionFn run = action.service == service->type ? find_action(*service, action.name) : nullptr;
  if (run == nullptr) return fault(response, action, UPNP_INVALID_ACTION);
  ActionCall call{server, request, action, {}};
  const int error = run_in_read_transaction(run, call);
  if (error != UPNP_OK) return fault(response, action, error);
  response.content_type = "text/xml; charset=\"utf-8\"";
  response.body = soap_response(action.service, action.name, call.outputs.data(), static_cast<int>(call.outputs.size()));
}
