// The auth/noauth rules and the local networks: which client may make
// which request.
#include <gtest/gtest.h>

#include "AccessRules.h"
#include "Interfaces.h"

namespace {

MSConfigAccessRule *rule(int allowed, const char *from, const char *path, const char *libpath,
                         MSConfigAccessRule *next) {
  return new MSConfigAccessRule{allowed, from, path, libpath, next};
}

}  // namespace

TEST(AccessRules, FirstMatchingRuleInDocumentOrderDecides) {
  // Document order: noauth 192.168.1.66, auth 192.168.1.0/24 on /media, noauth /media,
  // noauth libpath 0/2, noauth from "kitchen" (no address: never matches).
  MSConfigAccessRule *newest_first =
      rule(0, "kitchen", nullptr, nullptr,
           rule(0, nullptr, nullptr, "0/2",
                rule(0, nullptr, "/media", nullptr,
                     rule(1, "192.168.1.0/24", "/media", nullptr, rule(0, "192.168.1.66", nullptr, nullptr, nullptr)))));
  const std::vector<AccessRule> rules = access_rules_from(newest_first);
  struct Case {
    const char *client, *path, *object_id;
    bool allowed;
  };
  const Case cases[] = {
      {"192.168.1.66", "/description.xml", nullptr, false},
      {"192.168.1.20", "/media/12/0", nullptr, true},
      {"192.168.2.20", "/media/12/0", nullptr, false},
      {"192.168.2.20", "/description.xml", nullptr, true},
      {"192.168.2.20", "/control/ContentDirectory", "0/2/7", false},
      {"192.168.2.20", "/control/ContentDirectory", "0/1/7", true},
      {"192.168.2.20", "/control/ContentDirectory", "0/22", false},  // prefixes are textual
      {"not an address", "/description.xml", nullptr, true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(access_allowed(rules, c.client, c.path, c.object_id), c.allowed) << c.client << " " << c.path;
  }
  EXPECT_TRUE(access_allowed({}, "203.0.113.9", "/media/1/0", nullptr));
  MSConfigAccessRule everyone{0, "*", "/media", nullptr, nullptr};
  EXPECT_FALSE(access_allowed(access_rules_from(&everyone), "203.0.113.9", "/media/1/0", nullptr));
  while (newest_first != nullptr) {
    MSConfigAccessRule *next = newest_first->next;
    delete newest_first;
    newest_first = next;
  }
}

TEST(Interfaces, NetworksParseAndReachOnlyTheirMembers) {
  std::uint32_t network = 0, mask = 0;
  for (const char *bad : {"", "10.0.0", "10.0.0.1/33", "10.0.0.1/", "10.0.0.1/x", "host.lan"}) {
    EXPECT_FALSE(interfaces_parse_network(bad, &network, &mask)) << bad;
  }
  ASSERT_TRUE(interfaces_parse_network("192.168.7.9/16", &network, &mask));
  EXPECT_EQ(network, 0xC0A80000u);
  EXPECT_EQ(mask, 0xFFFF0000u);
  const std::vector<ServedInterface> served = {{"lo", "127.0.0.1", 0x7F000000u, 0xFF000000u},
                                               {"eth0", "192.168.7.9", 0xC0A80700u, 0xFFFFFF00u}};
  EXPECT_TRUE(interfaces_reach(served, "127.0.0.5"));
  EXPECT_TRUE(interfaces_reach(served, "192.168.7.200"));
  EXPECT_FALSE(interfaces_reach(served, "192.168.8.1"));
  EXPECT_FALSE(interfaces_reach(served, "8.8.8.8"));
}

TEST(Interfaces, ServedAreLoopbackAndLocalOrTheConfiguredAddress) {
  std::vector<ServedInterface> local;
  ASSERT_EQ(interfaces_served(nullptr, &local), 0);
  bool loopback = false;
  for (const ServedInterface &i : local) loopback = loopback || i.address == "127.0.0.1";
  EXPECT_TRUE(loopback);
  std::vector<ServedInterface> chosen;
  ASSERT_EQ(interfaces_served("127.0.0.1", &chosen), 0);
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0].address, "127.0.0.1");
  std::vector<ServedInterface> bad;
  EXPECT_NE(interfaces_served("my.host", &bad), 0);
}
