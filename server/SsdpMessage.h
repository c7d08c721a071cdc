// SsdpMessage: the texts of SSDP, as pure functions over strings.
//
// Builds the NOTIFY ssdp:alive / ssdp:byebye datagrams and the M-SEARCH
// answers for one device, lists the (NT, USN) pairs a device announces,
// reads an M-SEARCH datagram into its search target and MX, and reads what
// other devices say of themselves. Nothing here touches a socket, a clock or
// shared state: every function is safe on any thread and everything it
// returns is owned by the caller.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char *SSDP_GROUP = "239.255.255.250";
inline constexpr unsigned SSDP_PORT = 1900;
// Largest datagram read or written; anything longer is not SSDP we answer.
inline constexpr size_t SSDP_MAX_DATAGRAM = 2048;
// UPnP asks searchers for MX 1..5 and devices to read a larger MX as 5.
inline constexpr unsigned SSDP_MX_CAP = 5;

// What a device is: the facts its announcements and answers carry.
struct SsdpDevice {
  std::string uuid;  // bare UUID
  std::string server;
  std::string location;  // full LOCATION URL on one interface
  unsigned max_age = 1800;
  std::string device_type;
  std::vector<std::string> service_types;
};

// One announced identity: NT (or ST in an answer) and its USN.
struct SsdpTarget {
  std::string nt;
  std::string usn;
};

// Root device, UUID, device type, then each service type, in that order.
std::vector<SsdpTarget> ssdp_targets(const SsdpDevice &device);

std::string ssdp_alive(const SsdpDevice &device, const SsdpTarget &target);
std::string ssdp_byebye(const SsdpDevice &device, const SsdpTarget &target);
// date is an RFC 1123 date (ssdp_http_date).
std::string ssdp_search_answer(const SsdpDevice &device, const SsdpTarget &target,
                               const std::string &date);
// RFC 1123 date of a time in seconds since the epoch.
std::string ssdp_http_date(long long unix_seconds);

// The targets that answer search target st: every target for ssdp:all, else
// the one whose NT is st. A device or service type is also found by a search
// for an older version of it, and is answered with the version searched for.
std::vector<SsdpTarget> ssdp_search_matches(const SsdpDevice &device, std::string_view st);

// An M-SEARCH datagram read. mx is -1 when the header is absent.
struct SsdpSearch {
  std::string st;
  int mx = -1;
};

enum class SsdpParse {
  search,     // a well-formed M-SEARCH; the record is filled
  not_search, // another SSDP message (NOTIFY, an answer): ignored silently
  malformed,  // an M-SEARCH that breaks the rules, or not HTTP-like at all
};

// Reads one datagram. multicast says whether it came to the SSDP group, where
// MX is required. When malformed, *why names the broken rule.
SsdpParse ssdp_parse_search(std::string_view datagram, bool multicast, SsdpSearch *search,
                            std::string *why);

// What another device says of itself: the LOCATION of its NOTIFY ssdp:alive,
// or the USER-AGENT and CPFN.UPNP.ORG (its friendly name) of its M-SEARCH.
struct SsdpHeard {
  std::string location;
  std::string user_agent;
  std::string friendly_name;
};

// Reads a NOTIFY ssdp:alive with a LOCATION, or an M-SEARCH with a USER-AGENT
// or CPFN.UPNP.ORG. False for any other datagram.
bool ssdp_parse_heard(std::string_view datagram, SsdpHeard *heard);
