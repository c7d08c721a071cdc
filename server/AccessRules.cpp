// Matching requests against the auth/noauth rules.
#include "AccessRules.h"

#include <cstring>

#include "Interfaces.h"
#include "log4c.h"

namespace {

bool prefix_of(const std::string &prefix, const char *text) {
  return text != nullptr && std::strncmp(text, prefix.c_str(), prefix.size()) == 0;
}

bool matches(const AccessRule &rule, const char *client, const char *path, const char *object_id) {
  if (!rule.valid) return false;
  std::uint32_t address = 0, all = 0;
  if (!interfaces_parse_network(client, &address, &all) || (address & rule.mask) != rule.network) return false;
  if (rule.has_path && !prefix_of(rule.path, path)) return false;
  return !rule.has_libpath || prefix_of(rule.libpath, object_id);
}

}  // namespace

std::vector<AccessRule> access_rules_from(const MSConfigAccessRule *newest_first) {
  std::vector<AccessRule> rules;
  for (const MSConfigAccessRule *c = newest_first; c != nullptr; c = c->next) {
    AccessRule rule{c->allowed != 0, true, 0, 0, c->path ? c->path : "", c->libpath ? c->libpath : "",
                    c->path != nullptr && *c->path, c->libpath != nullptr && *c->libpath};
    const bool anyone = c->from == nullptr || *c->from == '\0' || std::strcmp(c->from, "*") == 0;
    if (!anyone && !interfaces_parse_network(c->from, &rule.network, &rule.mask)) {
      rule.valid = false;
      log4c_log("AccessRules", LOG4C_ERROR, log4c_sprintf("Ignoring an access rule: %s is no address", c->from),
                __FILE__, __LINE__);
    }
    rules.insert(rules.begin(), rule);
  }
  return rules;
}

bool access_allowed(const std::vector<AccessRule> &rules, const char *client, const char *path,
                    const char *object_id) {
  for (const AccessRule &rule : rules) {
    if (matches(rule, client, path, object_id)) return rule.allowed;
  }
  return true;
}
