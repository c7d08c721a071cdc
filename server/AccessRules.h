// AccessRules: the auth (allow) and noauth (refuse) rules of config.xml
// applied to a request. A rule matches when each attribute it has matches:
// from, the client's address or network ("192.168.1.0/24"; "*" is
// anyone); path, a prefix
// of the URL path; libpath, a prefix of the object id a Browse or Search
// names (a rule with libpath matches no other request). The first rule in
// document order that matches decides; without one the request is allowed.
// A rule whose from is not an address is logged once and never matches.
// The rules are read-only after start-up; any thread may check them.
#pragma once

#include <string>
#include <vector>

#include "MSConfig.h"

struct AccessRule {
  bool allowed;
  bool valid;  // from parsed (or absent)
  std::uint32_t network, mask;
  std::string path;
  std::string libpath;
  bool has_path, has_libpath;
};

// The rules of config in document order.
std::vector<AccessRule> access_rules_from(const MSConfigAccessRule *newest_first);

// Whether a client may make a request for path (and object id, or null).
bool access_allowed(const std::vector<AccessRule> &rules, const char *client, const char *path,
                    const char *object_id);
