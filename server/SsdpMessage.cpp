#include "SsdpMessage.h"

#include <charconv>
#include <ctime>

namespace {

constexpr std::string_view ROOT_DEVICE = "upnp:rootdevice";

std::string host_line() {
  return std::string("HOST: ") + SSDP_GROUP + ":" + std::to_string(SSDP_PORT) + "\r\n";
}

std::string notify(const SsdpDevice &device, const SsdpTarget &target, bool alive) {
  std::string text = "NOTIFY * HTTP/1.1\r\n" + host_line();
  if (alive) {
    text += "CACHE-CONTROL: max-age=" + std::to_string(device.max_age) + "\r\n";
    text += "LOCATION: " + device.location + "\r\n";
  }
  text += "NT: " + target.nt + "\r\n";
  text += alive ? "NTS: ssdp:alive\r\n" : "NTS: ssdp:byebye\r\n";
  if (alive) text += "SERVER: " + device.server + "\r\n";
  text += "USN: " + target.usn + "\r\n\r\n";
  return text;
}

// "urn:...:MediaServer:1" as ("urn:...:MediaServer:", 1); version 0 when the
// text does not end in a positive version number.
std::pair<std::string_view, unsigned> split_version(std::string_view type) {
  size_t colon = type.rfind(':');
  if (colon == std::string_view::npos || colon + 1 == type.size()) return {type, 0};
  unsigned version = 0;
  auto [end, ec] = std::from_chars(type.data() + colon + 1, type.data() + type.size(), version);
  if (ec != std::errc() || end != type.data() + type.size()) return {type, 0};
  return {type.substr(0, colon + 1), version};
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// Next line of text (without its end), advancing text past it.
std::string_view next_line(std::string_view &text) {
  size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Hands each header line after the request line to take(name, value), which
// returns the rule the header breaks or null. Returns the first broken rule,
// or null.
template <typename Take>
const char *read_headers(std::string_view rest, Take take) {
  for (std::string_view line = next_line(rest); !line.empty(); line = next_line(rest)) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return "a header line without a colon";
    if (const char *broken = take(trim(line.substr(0, colon)), trim(line.substr(colon + 1)))) return broken;
  }
  return nullptr;
}

SsdpParse malformed(std::string *why, const char *rule) {
  *why = rule;
  return SsdpParse::malformed;
}

}  // namespace

std::vector<SsdpTarget> ssdp_targets(const SsdpDevice &device) {
  std::string usn = "uuid:" + device.uuid;
  std::vector<SsdpTarget> targets = {{std::string(ROOT_DEVICE), usn + "::" + std::string(ROOT_DEVICE)},
                                     {usn, usn},
                                     {device.device_type, usn + "::" + device.device_type}};
  for (const std::string &service : device.service_types) targets.push_back({service, usn + "::" + service});
  return targets;
}

std::string ssdp_alive(const SsdpDevice &device, const SsdpTarget &target) { return notify(device, target, true); }

std::string ssdp_byebye(const SsdpDevice &device, const SsdpTarget &target) {
  return notify(device, target, false);
}

std::string ssdp_search_answer(const SsdpDevice &device, const SsdpTarget &target, const std::string &date) {
  return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=" + std::to_string(device.max_age) + "\r\nDATE: " + date +
         "\r\nEXT:\r\nLOCATION: " + device.location + "\r\nSERVER: " + device.server + "\r\nST: " + target.nt +
         "\r\nUSN: " + target.usn + "\r\n\r\n";
}

std::string ssdp_http_date(long long unix_seconds) {
  time_t t = static_cast<time_t>(unix_seconds);
  struct tm utc;
  gmtime_r(&t, &utc);
  char text[64];
  strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

std::vector<SsdpTarget> ssdp_search_matches(const SsdpDevice &device, std::string_view st) {
  std::vector<SsdpTarget> all = ssdp_targets(device);
  if (st == "ssdp:all") return all;
  auto [searched_prefix, searched_version] = split_version(st);
  for (size_t i = 0; i < all.size(); i++) {
    if (all[i].nt == st) return {all[i]};
    if (i < 2 || searched_version == 0) continue;  // the root and the UUID have no version
    auto [prefix, version] = split_version(all[i].nt);
    if (prefix == searched_prefix && searched_version <= version)
      return {{std::string(st), "uuid:" + device.uuid + "::" + std::string(st)}};
  }
  return {};
}

SsdpParse ssdp_parse_search(std::string_view datagram, bool multicast, SsdpSearch *search, std::string *why) {
  if (datagram.find('\0') != std::string_view::npos) return malformed(why, "a NUL byte in the datagram");
  std::string_view rest = datagram;
  std::string_view request = next_line(rest);
  if (request.starts_with("NOTIFY ") || request.starts_with("HTTP/1.")) return SsdpParse::not_search;
  if (request != "M-SEARCH * HTTP/1.1") return malformed(why, "not an SSDP request line");
  bool discover = false;
  *search = SsdpSearch();
  const char *broken = read_headers(rest, [&](std::string_view name, std::string_view value) -> const char * {
    if (iequals(name, "MAN")) {
      discover = value == "\"ssdp:discover\"";
    } else if (iequals(name, "ST")) {
      search->st = value;
    } else if (iequals(name, "MX")) {
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), search->mx);
      if (ec != std::errc() || end != value.data() + value.size() || search->mx < 0)
        return "MX is not a number of seconds";
    }
    return nullptr;
  });
  if (broken != nullptr) return malformed(why, broken);
  if (!discover) return malformed(why, "MAN is not \"ssdp:discover\"");
  if (search->st.empty()) return malformed(why, "no ST");
  if (multicast && search->mx < 0) return malformed(why, "no MX in a multicast search");
  return SsdpParse::search;
}

bool ssdp_parse_heard(std::string_view datagram, SsdpHeard *heard) {
  *heard = SsdpHeard();
  if (datagram.find('\0') != std::string_view::npos) return false;
  std::string_view rest = datagram;
  std::string_view request = next_line(rest);
  const bool notify = request == "NOTIFY * HTTP/1.1";
  if (!notify && request != "M-SEARCH * HTTP/1.1") return false;
  std::string nts;
  const std::pair<std::string_view, std::string *> wanted[] = {{"NTS", &nts},
                                                               {"LOCATION", &heard->location},
                                                               {"USER-AGENT", &heard->user_agent},
                                                               {"CPFN.UPNP.ORG", &heard->friendly_name}};
  const char *broken = read_headers(rest, [&](std::string_view name, std::string_view value) -> const char * {
    for (const auto &[header, field] : wanted)
      if (iequals(name, header)) *field = value;
    return nullptr;
  });
  if (broken != nullptr) return false;
  // A device states its description in an announcement, a control point its
  // name and agent in a search; nothing else counts.
  if (notify) {
    heard->user_agent.clear();
    heard->friendly_name.clear();
    return nts == "ssdp:alive" && !heard->location.empty();
  }
  heard->location.clear();
  return !heard->user_agent.empty() || !heard->friendly_name.empty();
}
