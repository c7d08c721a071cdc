// Routes: mlserve's URL space, as one table of method, path and handler:
// the description documents and icon, the control and event URLs of the two
// services, and the media URLs. Every handler takes the ServerContext and
// applies the access rules before anything else.
#pragma once

#include "HttpServer.h"

extern const HttpRoute ROUTES[];
extern const int ROUTE_COUNT;

// HttpClientFilter: with allowRemoteConnection off, only clients on the
// networks of the served interfaces may connect.
bool routes_client_allowed(void *context, const char *client);

// DeviceAllowedFn: whether the server learns from the devices at address:
// only where it would serve them, with the access rules that match every URL
// of the server.
bool routes_device_allowed(void *context, const char *address);
