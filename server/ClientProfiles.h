// ClientProfiles: the players that need something of the server beyond
// standard UPnP AV, recognised by a text in one of their request headers
// (User-Agent, X-AV-Client-Info, or the friendly name a UPnP 1.1 control
// point states in CPFN.UPNP.ORG) through a table, each with the quirks the
// server then applies. A client the table does not know gets the standard
// behaviour. A constant table; any thread.
#pragma once

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

struct ClientProfile {
  const char *name;
  const char *header;    // the request header that identifies the client
  const char *contains;  // text in that header (case-insensitive)
  unsigned quirks;
};

// The profile of the client that sent request: the first row whose header
// contains its text, or the standard profile (no quirks, named "standard").
const ClientProfile &client_profile(const HttpRequest &request);

// The MIME type a client with quirks expects for mime, or mime itself.
const char *client_mime(const ClientProfile &client, const char *mime);
