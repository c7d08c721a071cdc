// The device description and the two SCPDs, from tables.
#include "Description.h"

#include <cstring>
#include <string_view>

#include "ClientProfiles.h"
#include "Soap.h"

namespace {

struct Argument {
  const char *name;
  bool in;
  const char *variable;
};

struct Action {
  const char *name;
  Argument arguments[10];
};

struct Variable {
  const char *name;
  const char *type;
  bool evented;
  const char *allowed;  // allowed values, comma-separated, or null
};

struct Scpd {
  const char *path;
  const Action *actions;
  std::size_t action_count;
  const Variable *variables;
  std::size_t variable_count;
};

constexpr Action kCdsActions[] = {
    {"GetSearchCapabilities", {{"SearchCaps", false, "SearchCapabilities"}}},
    {"GetSortCapabilities", {{"SortCaps", false, "SortCapabilities"}}},
    {"GetSystemUpdateID", {{"Id", false, "SystemUpdateID"}}},
    {"Browse",
     {{"ObjectID", true, "A_ARG_TYPE_ObjectID"},
      {"BrowseFlag", true, "A_ARG_TYPE_BrowseFlag"},
      {"Filter", true, "A_ARG_TYPE_Filter"},
      {"StartingIndex", true, "A_ARG_TYPE_Index"},
      {"RequestedCount", true, "A_ARG_TYPE_Count"},
      {"SortCriteria", true, "A_ARG_TYPE_SortCriteria"},
      {"Result", false, "A_ARG_TYPE_Result"},
      {"NumberReturned", false, "A_ARG_TYPE_Count"},
      {"TotalMatches", false, "A_ARG_TYPE_Count"},
      {"UpdateID", false, "A_ARG_TYPE_UpdateID"}}},
    {"Search",
     {{"ContainerID", true, "A_ARG_TYPE_ObjectID"},
      {"SearchCriteria", true, "A_ARG_TYPE_SearchCriteria"},
      {"Filter", true, "A_ARG_TYPE_Filter"},
      {"StartingIndex", true, "A_ARG_TYPE_Index"},
      {"RequestedCount", true, "A_ARG_TYPE_Count"},
      {"SortCriteria", true, "A_ARG_TYPE_SortCriteria"},
      {"Result", false, "A_ARG_TYPE_Result"},
      {"NumberReturned", false, "A_ARG_TYPE_Count"},
      {"TotalMatches", false, "A_ARG_TYPE_Count"},
      {"UpdateID", false, "A_ARG_TYPE_UpdateID"}}},
    {"X_GetFeatureList", {{"FeatureList", false, "A_ARG_TYPE_Featurelist"}}},
};

constexpr Variable kCdsVariables[] = {
    {"SearchCapabilities", "string", false, nullptr},
    {"SortCapabilities", "string", false, nullptr},
    {"SystemUpdateID", "ui4", true, nullptr},
    {"ContainerUpdateIDs", "string", true, nullptr},
    {"A_ARG_TYPE_ObjectID", "string", false, nullptr},
    {"A_ARG_TYPE_Result", "string", false, nullptr},
    {"A_ARG_TYPE_SearchCriteria", "string", false, nullptr},
    {"A_ARG_TYPE_BrowseFlag", "string", false, "BrowseMetadata,BrowseDirectChildren"},
    {"A_ARG_TYPE_Filter", "string", false, nullptr},
    {"A_ARG_TYPE_SortCriteria", "string", false, nullptr},
    {"A_ARG_TYPE_Index", "ui4", false, nullptr},
    {"A_ARG_TYPE_Count", "ui4", false, nullptr},
    {"A_ARG_TYPE_UpdateID", "ui4", false, nullptr},
    {"A_ARG_TYPE_Featurelist", "string", false, nullptr},
};

constexpr Action kCmsActions[] = {
    {"GetProtocolInfo", {{"Source", false, "SourceProtocolInfo"}, {"Sink", false, "SinkProtocolInfo"}}},
    {"GetCurrentConnectionIDs", {{"ConnectionIDs", false, "CurrentConnectionIDs"}}},
    {"GetCurrentConnectionInfo",
     {{"ConnectionID", true, "A_ARG_TYPE_ConnectionID"},
      {"RcsID", false, "A_ARG_TYPE_RcsID"},
      {"AVTransportID", false, "A_ARG_TYPE_AVTransportID"},
      {"ProtocolInfo", false, "A_ARG_TYPE_ProtocolInfo"},
      {"PeerConnectionManager", false, "A_ARG_TYPE_ConnectionManager"},
      {"PeerConnectionID", false, "A_ARG_TYPE_ConnectionID"},
      {"Direction", false, "A_ARG_TYPE_Direction"},
      {"Status", false, "A_ARG_TYPE_ConnectionStatus"}}},
};

constexpr Variable kCmsVariables[] = {
    {"SourceProtocolInfo", "string", true, nullptr},
    {"SinkProtocolInfo", "string", true, nullptr},
    {"CurrentConnectionIDs", "string", true, nullptr},
    {"A_ARG_TYPE_ConnectionStatus", "string", false,
     "OK,ContentFormatMismatch,InsufficientBandwidth,UnreliableChannel,Unknown"},
    {"A_ARG_TYPE_ConnectionManager", "string", false, nullptr},
    {"A_ARG_TYPE_Direction", "string", false, "Input,Output"},
    {"A_ARG_TYPE_ProtocolInfo", "string", false, nullptr},
    {"A_ARG_TYPE_ConnectionID", "i4", false, nullptr},
    {"A_ARG_TYPE_AVTransportID", "i4", false, nullptr},
    {"A_ARG_TYPE_RcsID", "i4", false, nullptr},
};

constexpr Action kRegistrarActions[] = {
    {"IsAuthorized", {{"DeviceID", true, "A_ARG_TYPE_DeviceID"}, {"Result", false, "A_ARG_TYPE_Result"}}},
    {"IsValidated", {{"DeviceID", true, "A_ARG_TYPE_DeviceID"}, {"Result", false, "A_ARG_TYPE_Result"}}},
    {"RegisterDevice",
     {{"RegistrationReqMsg", true, "A_ARG_TYPE_RegistrationReqMsg"},
      {"RegistrationRespMsg", false, "A_ARG_TYPE_RegistrationRespMsg"}}},
};

constexpr Variable kRegistrarVariables[] = {
    {"A_ARG_TYPE_DeviceID", "string", false, nullptr},
    {"A_ARG_TYPE_Result", "int", false, nullptr},
    {"A_ARG_TYPE_RegistrationReqMsg", "bin.base64", false, nullptr},
    {"A_ARG_TYPE_RegistrationRespMsg", "bin.base64", false, nullptr},
    {"AuthorizationGrantedUpdateID", "ui4", true, nullptr},
    {"AuthorizationDeniedUpdateID", "ui4", true, nullptr},
    {"ValidationSucceededUpdateID", "ui4", true, nullptr},
    {"ValidationRevokedUpdateID", "ui4", true, nullptr},
};

constexpr Scpd kScpds[] = {
    {SERVICES[0].scpd_path, kCdsActions, std::size(kCdsActions), kCdsVariables, std::size(kCdsVariables)},
    {SERVICES[1].scpd_path, kCmsActions, std::size(kCmsActions), kCmsVariables, std::size(kCmsVariables)},
    {REGISTRAR.scpd_path, kRegistrarActions, std::size(kRegistrarActions), kRegistrarVariables,
     std::size(kRegistrarVariables)},
};

// What Samsung sets read in the description before they ask for captions.
constexpr const char *kProductCap =
    "<sec:ProductCap xmlns:sec=\"http://www.sec.co.kr/dlna\">smi,DCM10,getMediaInfo.sec,getCaptionInfo.sec"
    "</sec:ProductCap>";

void element(std::string &out, const char *name, std::string_view value) {
  out += "<" + std::string(name) + ">" + soap_escape(value) + "</" + name + ">";
}

void write_action(std::string &out, const Action &action) {
  out += "<action><name>" + std::string(action.name) + "</name><argumentList>";
  for (const Argument &argument : action.arguments) {
    if (argument.name == nullptr) break;
    out += "<argument>";
    element(out, "name", argument.name);
    element(out, "direction", argument.in ? "in" : "out");
    element(out, "relatedStateVariable", argument.variable);
    out += "</argument>";
  }
  out += "</argumentList></action>";
}

void write_variable(std::string &out, const Variable &variable) {
  out += std::string("<stateVariable sendEvents=\"") + (variable.evented ? "yes" : "no") + "\">";
  element(out, "name", variable.name);
  element(out, "dataType", variable.type);
  if (variable.allowed != nullptr) {
    out += "<allowedValueList>";
    std::string_view rest = variable.allowed;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      element(out, "allowedValue", rest.substr(0, comma));
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    out += "</allowedValueList>";
  }
  out += "</stateVariable>";
}

void write_service(std::string &out, const ServiceInfo &service) {
  out += "<service>";
  element(out, "serviceType", service.type);
  element(out, "serviceId", service.id);
  element(out, "SCPDURL", service.scpd_path);
  element(out, "controlURL", service.control_path);
  element(out, "eventSubURL", service.event_path);
  out += "</service>";
}

}  // namespace

std::string description_scpd(const char *path) {
  for (const Scpd &scpd : kScpds) {
    if (std::strcmp(scpd.path, path) != 0) continue;
    std::string out =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"
        "<specVersion><major>1</major><minor>0</minor></specVersion><actionList>";
    for (std::size_t i = 0; i < scpd.action_count; ++i) write_action(out, scpd.actions[i]);
    out += "</actionList><serviceStateTable>";
    for (std::size_t i = 0; i < scpd.variable_count; ++i) write_variable(out, scpd.variables[i]);
    return out + "</serviceStateTable></scpd>\n";
  }
  return std::string();
}

std::string description_device(const char *friendly_name, const char *uuid, const char *version,
                               unsigned quirks) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
      "<specVersion><major>1</major><minor>0</minor></specVersion><device>";
  element(out, "deviceType", DEVICE_TYPE);
  element(out, "friendlyName", friendly_name);
  element(out, "manufacturer", "Zentoria");
  element(out, "manufacturerURL", "https://zentoria.example/");
  element(out, "modelDescription", "Zentoria home media server");
  element(out, "modelName", "Zentoria Media Server");
  element(out, "modelNumber", version);
  element(out, "modelURL", "https://zentoria.example/");
  element(out, "UDN", std::string("uuid:") + uuid);
  if ((quirks & CLIENT_SAMSUNG_FEATURES) != 0) out += kProductCap;
  out += "<iconList><icon><mimetype>image/png</mimetype>";
  element(out, "width", std::to_string(ICON_SIZE));
  element(out, "height", std::to_string(ICON_SIZE));
  out += "<depth>24</depth>";
  element(out, "url", ICON_PATH);
  out += "</icon></iconList><serviceList>";
  for (const ServiceInfo &service : SERVICES) write_service(out, service);
  if ((quirks & CLIENT_MS_REGISTRAR) != 0) write_service(out, REGISTRAR);
  return out + "</serviceList></device></root>\n";
}
