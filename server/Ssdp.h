// Ssdp: announces one UPnP root device with SSDP and answers its searches.
// ssdp_start opens the sockets in the calling thread (so they belong to that
// thread's network namespace) and starts one thread of its own, which sends
// NOTIFY ssdp:alive on every interface at start (three rounds, for lost
// datagrams) and every max_age/2, answers M-SEARCH with a LOCATION on the
// interface the search came in on, and tells the settings' heard function
// what other devices say of themselves. ssdp_stop sends ssdp:byebye, joins
// the thread and frees everything. Both are called from one controlling thread.
#pragma once

#include <string>
#include <vector>

#include "SsdpMessage.h"

struct SsdpInterface {
  std::string name;     // interface name, as "eth0"; searches are matched to it by index
  std::string address;  // its IPv4 dotted address
};

struct SsdpSettings {
  std::string uuid;    // bare UUID (no "uuid:" prefix)
  std::string server;  // SERVER header value, without CRLF
  unsigned http_port;  // LOCATION is http://<interface address>:<http_port><description_path>
  std::string description_path;
  unsigned max_age;  // seconds (listen ssdpMaxAge)
  std::string device_type;
  std::vector<std::string> service_types;
  std::vector<SsdpInterface> interfaces;
  // Told, with the sender's dotted address, what a device on a served
  // interface says of itself (never the server's own announcements); null:
  // nobody listens.
  void (*heard)(const char *address, const SsdpHeard &heard) = nullptr;
};

struct Ssdp;

// Returns APR_SUCCESS and the running announcer in *out, or:
//   APR_EINVAL: no interface, an address that is not IPv4 dotted, an empty
//               UUID or device type, a CR or LF in a header value;
//   an APR status from errno: a socket could not be opened, bound or joined
//               to the SSDP group (say, an address this machine does not have).
// Every failure is logged with its reason; nothing is left open.
int ssdp_start(const SsdpSettings &settings, Ssdp **out);

// Sends ssdp:byebye for every target on every interface, joins the thread and
// frees ssdp. A null ssdp is ignored.
void ssdp_stop(Ssdp *ssdp);
