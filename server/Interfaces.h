// Interfaces: the IPv4 interfaces mlserve serves on and the networks they
// reach. With an address configured, the one interface that has it; else
// every interface on a private network (10/8, 172.16/12, 192.168/16), a
// link-local one (169.254/16) and loopback. The same list decides which
// clients count as local (allowRemoteConnection off) and is handed to SSDP.
// Plain values, computed once at start-up; read by any thread afterwards.
#pragma once

#include <apr_pools.h>

#include <cstdint>
#include <string>
#include <vector>

struct ServedInterface {
  std::string name;     // "eth0"
  std::string address;  // dotted IPv4
  std::uint32_t network;  // address & mask, host byte order
  std::uint32_t mask;
};

// The interfaces to serve: those with address when it is set (a configured
// address no interface has is still returned, as a /32, so that binding to
// it fails with a clear message), else the local ones above. Returns 0, or
// 20014 after "Not an IPv4 address: %s" or "Could not list the network
// interfaces: %s".
int interfaces_served(const char *address, std::vector<ServedInterface> *out);

// Whether an IPv4 address belongs to one of the networks of interfaces.
bool interfaces_reach(const std::vector<ServedInterface> &interfaces, const char *client);

// Parses "a.b.c.d" or "a.b.c.d/n" into a network and mask; false when it is
// neither.
bool interfaces_parse_network(const char *text, std::uint32_t *network, std::uint32_t *mask);
