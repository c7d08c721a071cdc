// The table of players with quirks.
#include "ClientProfiles.h"

#include <strings.h>

#include <cstring>

namespace {

constexpr ClientProfile kStandard = {"standard", nullptr, nullptr, 0};

constexpr unsigned kSamsung = CLIENT_SAMSUNG_FEATURES | CLIENT_MKV_AS_X_MKV;
constexpr unsigned kXbox = CLIENT_MS_REGISTRAR | CLIENT_XBOX_IDS;

constexpr ClientProfile kClients[] = {
    {"Samsung", "X-AV-Client-Info", "Samsung", kSamsung},
    {"Samsung", "User-Agent", "SEC_HHP_", kSamsung},
    {"Samsung", "User-Agent", "SamsungWiselinkPro", kSamsung},
    {"Xbox", "User-Agent", "Xbox", kXbox},
    {"Xbox", "User-Agent", "Xenon", kXbox},
    {"PlayStation", "X-AV-Client-Info", "PLAYSTATION", CLIENT_AVI_AS_DIVX},
    {"PlayStation", "User-Agent", "PLAYSTATION", CLIENT_AVI_AS_DIVX},
    {"LG", "User-Agent", "LGE_DLNA_SDK", CLIENT_SORT_BY_TITLE},
    {"Samsung", "CPFN.UPNP.ORG", "[TV] Samsung", kSamsung},
    {"LG", "CPFN.UPNP.ORG", "[LG] webOS TV", CLIENT_SORT_BY_TITLE},
};

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

const ClientProfile &client_profile(const HttpRequest &request) {
  for (const ClientProfile &row : kClients) {
    const char *value = http_header(request, row.header);
    if (value != nullptr && strcasestr(value, row.contains) != nullptr) return row;
  }
  return kStandard;
}

const char *client_mime(const ClientProfile &client, const char *mime) {
  for (const MimeQuirk &row : kMimeQuirks) {
    if ((client.quirks & row.quirk) != 0 && mime != nullptr && strcasecmp(mime, row.from) == 0) return row.to;
  }
  return mime;
}
