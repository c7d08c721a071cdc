// ClientProfiles: the players that need something of the server beyond
// standard UPnP AV, recognised through a table by a text in one of their
// request headers or in what their address said of itself on the network
// (DeviceNames: the USER-AGENT and friendly name of its searches, the
// friendlyName, manufacturer and modelName of its description), each with
// the quirks the server then applies. A client the table does not know gets
// the standard behaviour. A constant table; any thread.
#pragma once

#include <functional>

#include "DeviceNames.h"
#include "HttpServer.h"

// What the server does differently for a client.
enum ClientQuirk : unsigned {
  CLIENT_SAMSUNG_FEATURES = 1u << 0,  // sec:ProductCap in the description, X_GetFeatureList
  CLIENT_MKV_AS_X_MKV = 1u << 1,      // Matroska sent as video/x-mkv
  CLIENT_AVI_AS_DIVX = 1u << 2,       // AVI sent as video/divx
  CLIENT_MS_REGISTRAR = 1u << 3,      // X_MS_MediaReceiverRegistrar in the description
  CLIENT_XBOX_IDS = 1u << 4,          // the console's fixed container ids
  CLIENT_SORT_BY_TITLE = 1u << 5,     // children by title when no sort is asked
  CLIENT_NO_PROFILE_NAME = 1u << 6,   // protocolInfo without DLNA.ORG_PN
};

// Where a row looks for its text.
enum class ClientField {
  user_agent,      // the request's User-Agent, or the USER-AGENT of the address's searches
  av_client_info,  // the request's X-AV-Client-Info
  friendly_name,   // the request's CPFN.UPNP.ORG, or the friendly name the address stated
  manufacturer,    // of the description the address announced
  model_name,      // of that description
};

struct ClientProfile {
  const char *name;
  ClientField field;
  const char *contains;  // text in that field (case-insensitive)
  unsigned quirks;
};

// The profile of the client that sent request: the first row whose field
// contains its text, or the standard profile (no quirks, named "standard").
const ClientProfile &client_profile(const HttpServerRequest &request);

// The same from the request's headers (header gives a value or null) and what
// the client's address said of itself (null: nothing).
const ClientProfile &client_profile_match(const std::function<const char *(const char *name)> &header,
                                          const DeviceFacts *learnt);

// The MIME type a client with quirks expects for mime, or mime itself.
const char *client_mime(const ClientProfile &client, const char *mime);
