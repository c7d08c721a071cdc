// Description: the documents a control point reads before it acts: the
// device description (MediaServer:1) and the service descriptions (SCPDs)
// of ContentDirectory:1 and ConnectionManager:1, written from tables of the
// actions, arguments and state variables. Pure functions of their inputs;
// any thread.
#pragma once

#include <string>

inline constexpr const char *DESCRIPTION_PATH = "/description.xml";
inline constexpr const char *DEVICE_TYPE = "urn:schemas-upnp-org:device:MediaServer:1";
inline constexpr const char *CDS_TYPE = "urn:schemas-upnp-org:service:ContentDirectory:1";
inline constexpr const char *CMS_TYPE = "urn:schemas-upnp-org:service:ConnectionManager:1";

// The service a URL belongs to: its type, id and the paths of its SCPD,
// control and event URLs.
struct ServiceInfo {
  const char *type;
  const char *id;
  const char *scpd_path;
  const char *control_path;
  const char *event_path;
};
inline constexpr ServiceInfo SERVICES[] = {
    {CDS_TYPE, "urn:upnp-org:serviceId:ContentDirectory", "/ContentDirectory.xml", "/control/ContentDirectory",
     "/event/ContentDirectory"},
    {CMS_TYPE, "urn:upnp-org:serviceId:ConnectionManager", "/ConnectionManager.xml", "/control/ConnectionManager",
     "/event/ConnectionManager"},
};
// Xbox consoles play only from servers that list this service; it says
// yes to every device.
inline constexpr ServiceInfo REGISTRAR = {
    "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1", "urn:microsoft.com:serviceId:X_MS_MediaReceiverRegistrar",
    "/X_MS_MediaReceiverRegistrar.xml", "/control/X_MS_MediaReceiverRegistrar", "/event/X_MS_MediaReceiverRegistrar"};
inline constexpr const char *ICON_PATH = "/icon.png";
inline constexpr unsigned ICON_SIZE = 48;

// The device description; friendly_name and uuid are used as given
// (escaped here). quirks (ClientQuirk) add the sec:ProductCap Samsung sets
// read and the media receiver registrar Xbox consoles look for.
std::string description_device(const char *friendly_name, const char *uuid, const char *version,
                               unsigned quirks);

// The SCPD at path, or an empty text when path names none.
std::string description_scpd(const char *path);
