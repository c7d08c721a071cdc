// ConnectionManager:1 actions. The server makes no connections of its own
// (players fetch the media URLs with plain HTTP), so the only connection is
// "0", the one every UPnP source has.
#include <string>

#include "CommonMultimedia.h"
#include "Control.h"

namespace {

int protocol_info(ActionCall &call) {
  call.outputs = {{"Source", call.server.source_protocol_info}, {"Sink", ""}};
  return UPNP_OK;
}

int connection_ids(ActionCall &call) {
  call.outputs = {{"ConnectionIDs", "0"}};
  return UPNP_OK;
}

int connection_info(ActionCall &call) {
  const std::string *id = call.argument("ConnectionID");
  if (id == nullptr) return UPNP_INVALID_ARGS;
  if (*id != "0") return UPNP_INVALID_CONNECTION;
  call.outputs = {{"RcsID", "-1"},           {"AVTransportID", "-1"},  {"ProtocolInfo", ""},
                  {"PeerConnectionManager", ""}, {"PeerConnectionID", "-1"}, {"Direction", "Output"},
                  {"Status", "OK"}};
  return UPNP_OK;
}

}  // namespace

const ActionEntry CMS_ACTIONS[] = {
    {"GetProtocolInfo", protocol_info},
    {"GetCurrentConnectionIDs", connection_ids},
    {"GetCurrentConnectionInfo", connection_info},
};
const int CMS_ACTION_COUNT = static_cast<int>(std::size(CMS_ACTIONS));

std::string cms_source_protocol_info() {
  std::string out;
  for (int i = 1; i < MEDIA_TYPE_COUNT; ++i) {
    const MediaTypeEntry &row = MEDIA_TYPE_TABLE[i];
    if (row.media_class != MEDIA_AUDIO && row.media_class != MEDIA_VIDEO && row.media_class != MEDIA_IMAGE &&
        row.media_class != MEDIA_AUDIO_OR_VIDEO) {
      continue;
    }
    const std::string entry = std::string("http-get:*:") + row.mime_type + ":*";
    if (("," + out + ",").find("," + entry + ",") != std::string::npos) continue;
    if (!out.empty()) out += ",";
    out += entry;
  }
  return out;
}
