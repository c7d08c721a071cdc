// The table of players with quirks.
#include "ClientProfiles.h"

#include <strings.h>

#include <cstring>

namespace {

constexpr ClientProfile kStandard = {"standard", ClientField::user_agent, nullptr, 0};

constexpr unsigned kSamsung = CLIENT_SAMSUNG_FEATURES | CLIENT_MKV_AS_X_MKV;
constexpr unsigned kXbox = CLIENT_MS_REGISTRAR | CLIENT_XBOX_IDS;

using enum ClientField;

constexpr ClientProfile kClients[] = {
    {"Samsung", av_client_info, "Samsung", kSamsung},
    {"Samsung", user_agent, "SEC_HHP_", kSamsung},
    {"Samsung", user_agent, "SamsungWiselinkPro", kSamsung},
    {"Xbox", user_agent, "Xbox", kXbox},
    {"Xbox", user_agent, "Xenon", kXbox},
    {"PlayStation", av_client_info, "PLAYSTATION", CLIENT_AVI_AS_DIVX},
    {"PlayStation", user_agent, "PLAYSTATION", CLIENT_AVI_AS_DIVX},
    {"LG", user_agent, "LGE_DLNA_SDK", CLIENT_SORT_BY_TITLE},
    {"Samsung", friendly_name, "[TV] Samsung", kSamsung},
    {"Samsung", manufacturer, "Samsung Electronics", kSamsung},
    {"Samsung", model_name, "Samsung DTV", kSamsung},
    {"LG", friendly_name, "[LG]", CLIENT_SORT_BY_TITLE},
    {"LG", manufacturer, "LG Electronics", CLIENT_SORT_BY_TITLE},
    {"Xbox", model_name, "Xbox", kXbox},
    {"PlayStation", model_name, "PlayStation", CLIENT_AVI_AS_DIVX},
};

// Where each field is read, by ClientField: the request header (or null) and
// what the address said (or null).
struct FieldSource {
  const char *header;
  std::string DeviceFacts::*learnt;
};

constexpr FieldSource kFieldSources[] = {
    {"User-Agent", &DeviceFacts::user_agent},
    {"X-AV-Client-Info", nullptr},
    {"CPFN.UPNP.ORG", &DeviceFacts::friendly_name},
    {nullptr, &DeviceFacts::manufacturer},
    {nullptr, &DeviceFacts::model_name},
};

bool has(const char *value, const char *text) { return value != nullptr && strcasestr(value, text) != nullptr; }

struct MimeQuirk {
  unsigned quirk;
  const char *from, *to;
};

constexpr MimeQuirk kMimeQuirks[] = {
    {CLIENT_MKV_AS_X_MKV, "video/x-matroska", "video/x-mkv"},
    {CLIENT_AVI_AS_DIVX, "video/x-msvideo", "video/divx"},
    {CLIENT_AVI_AS_DIVX, "video/avi", "video/divx"},
};

}  // namespace

const ClientProfile &client_profile_match(const std::function<const char *(const char *name)> &header,
                                          const DeviceFacts *learnt) {
  for (const ClientProfile &row : kClients) {
    const FieldSource &source = kFieldSources[static_cast<std::size_t>(row.field)];
    if (source.header != nullptr && has(header(source.header), row.contains)) return row;
    if (learnt != nullptr && source.learnt != nullptr && has((learnt->*source.learnt).c_str(), row.contains))
      return row;
  }
  return kStandard;
}

const ClientProfile &client_profile(const HttpServerRequest &request) {
  DeviceFacts learnt;
  const bool known = device_names_of(request.client, &learnt);
  return client_profile_match([&request](const char *name) { return http_header(request, name); },
                              known ? &learnt : nullptr);
}

const char *client_mime(const ClientProfile &client, const char *mime) {
  for (const MimeQuirk &row : kMimeQuirks) {
    if ((client.quirks & row.quirk) != 0 && mime != nullptr && strcasecmp(mime, row.from) == 0) return row.to;
  }
  return mime;
}
