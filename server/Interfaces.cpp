// Interface enumeration through getifaddrs, and network membership.
#include "Interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "log4c.h"

namespace {

struct LocalRange {
  std::uint32_t network;
  std::uint32_t mask;
};

// Networks that never leave the home: private, link-local and loopback.
constexpr LocalRange kLocalRanges[] = {
    {0x0A000000, 0xFF000000}, {0xAC100000, 0xFFF00000}, {0xC0A80000, 0xFFFF0000},
    {0xA9FE0000, 0xFFFF0000}, {0x7F000000, 0xFF000000},
};

bool is_local(std::uint32_t address) {
  for (const LocalRange &range : kLocalRanges) {
    if ((address & range.mask) == range.network) return true;
  }
  return false;
}

std::uint32_t host_order(const sockaddr *address) {
  return ntohl(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
}

bool parse_address(const char *text, std::uint32_t *address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, text, &parsed) != 1) return false;
  *address = ntohl(parsed.s_addr);
  return true;
}

}  // namespace

bool interfaces_parse_network(const char *text, std::uint32_t *network, std::uint32_t *mask) {
  std::string address(text);
  unsigned bits = 32;
  if (const std::size_t slash = address.find('/'); slash != std::string::npos) {
    char *end = nullptr;
    const char *digits = address.c_str() + slash + 1;
    bits = static_cast<unsigned>(std::strtoul(digits, &end, 10));
    if (end == digits || *end != '\0' || bits > 32) return false;
    address.resize(slash);
  }
  std::uint32_t parsed = 0;
  if (!parse_address(address.c_str(), &parsed)) return false;
  *mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
  *network = parsed & *mask;
  return true;
}

int interfaces_served(const char *address, std::vector<ServedInterface> *out) {
  ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) {
    log4c_log("Interfaces", LOG4C_ERROR,
              log4c_sprintf("Could not list the network interfaces: %s", std::strerror(errno)), __FILE__, __LINE__);
    return APR_EGENERAL;
  }
  std::uint32_t wanted = 0;
  const bool chosen = address != nullptr;
  if (chosen && !parse_address(address, &wanted)) {
    freeifaddrs(list);
    log4c_log("Interfaces", LOG4C_ERROR, log4c_sprintf("Not an IPv4 address: %s", address), __FILE__, __LINE__);
    return APR_EGENERAL;
  }
  for (ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || entry->ifa_netmask == nullptr) continue;
    const std::uint32_t own = host_order(entry->ifa_addr);
    if (chosen ? own != wanted : !is_local(own)) continue;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr, text, sizeof text);
    const std::uint32_t mask = host_order(entry->ifa_netmask);
    out->push_back({entry->ifa_name, text, own & mask, mask});
  }
  freeifaddrs(list);
  if (chosen && out->empty()) out->push_back({"", address, wanted, 0xFFFFFFFFu});
  return APR_SUCCESS;
}

bool interfaces_reach(const std::vector<ServedInterface> &interfaces, const char *client) {
  std::uint32_t address = 0;
  if (!parse_address(client, &address)) return false;
  for (const ServedInterface &served : interfaces) {
    if ((address & served.mask) == served.network) return true;
  }
  return false;
}
