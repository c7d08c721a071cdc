// GENA subscriptions: who may subscribe, renew and unsubscribe, and where
// events go; the description tables every control point reads first.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "Description.h"
#include "Events.h"

namespace {

class EventsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(events_start({{{"SystemUpdateID", "5"}}, {}}, &events_), 0); }
  void TearDown() override { events_stop(events_); }
  EventAnswer subscribe(const char *callback, const char *nt = "upnp:event", const char *timeout = nullptr) {
    return events_subscribe(events_, {0, "127.0.0.1", callback, nt, nullptr, timeout});
  }
  Events *events_ = nullptr;
};

}  // namespace

TEST_F(EventsTest, CallbacksMustNameTheSubscribersOwnAddress) {
  struct Case {
    const char *callback;
    const char *nt;
    unsigned status;
  };
  const Case cases[] = {
      {"<http://127.0.0.1:5000/notify>", "upnp:event", 200},
      {"<http://127.0.0.1/notify><http://127.0.0.1:6000/other>", "upnp:event", 200},
      {"<http://127.0.0.2:5000/notify>", "upnp:event", 412},
      {"<http://localhost:5000/notify>", "upnp:event", 412},
      {"<http://127.0.0.1.evil.example:5000/>", "upnp:event", 412},
      {"<http://127.0.0.1:0/notify>", "upnp:event", 412},
      {"<http://127.0.0.1:99999/notify>", "upnp:event", 412},
      {"<http://127.0.0.1:5000/a\r\nHost: x>", "upnp:event", 412},
      {"<https://127.0.0.1:5000/notify>", "upnp:event", 412},
      {"http://127.0.0.1:5000/notify", "upnp:event", 412},
      {"<http://127.0.0.1:5000/notify>", "upnp:propchange", 412},
      {"<http://127.0.0.1:5000/notify>", nullptr, 412},
      {nullptr, "upnp:event", 412},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(subscribe(c.callback, c.nt).status, c.status) << (c.callback ? c.callback : "none");
  }
}

TEST_F(EventsTest, RenewalAndUnsubscriptionNeedALiveSidAndNothingElse) {
  const EventAnswer first = subscribe("<http://127.0.0.1:5000/n>", "upnp:event", "Second-120");
  ASSERT_EQ(first.status, 200u);
  EXPECT_TRUE(std::regex_match(first.sid, std::regex("uuid:[0-9a-f-]{36}"))) << first.sid;
  EXPECT_EQ(first.timeout, 120u);
  EXPECT_NE(subscribe("<http://127.0.0.1:5000/n>").sid, first.sid);
  struct Case {
    const char *timeout;
    unsigned granted;
  };
  const Case timeouts[] = {{"Second-1", 60}, {"Second-infinite", EVENTS_DEFAULT_TIMEOUT},
                           {"Second-999999", 86400}, {"nonsense", EVENTS_DEFAULT_TIMEOUT}};
  for (const Case &c : timeouts) {
    const EventAnswer renewed = events_subscribe(events_, {0, "127.0.0.1", nullptr, nullptr, first.sid.c_str(), c.timeout});
    EXPECT_EQ(renewed.status, 200u) << c.timeout;
    EXPECT_EQ(renewed.timeout, c.granted) << c.timeout;
  }
  const char *sid = first.sid.c_str();
  EXPECT_EQ(events_subscribe(events_, {1, "127.0.0.1", nullptr, nullptr, sid, nullptr}).status, 412u)
      << "a SID of the other service";
  EXPECT_EQ(events_subscribe(events_, {0, "127.0.0.1", "<http://127.0.0.1:1/>", nullptr, sid, nullptr}).status, 400u);
  EXPECT_EQ(events_unsubscribe(events_, {0, "127.0.0.1", nullptr, "upnp:event", sid, nullptr}), 400u);
  EXPECT_EQ(events_unsubscribe(events_, {0, "127.0.0.1", nullptr, nullptr, sid, nullptr}), 200u);
  EXPECT_EQ(events_unsubscribe(events_, {0, "127.0.0.1", nullptr, nullptr, sid, nullptr}), 412u);
  EXPECT_EQ(events_subscribe(events_, {0, "127.0.0.1", nullptr, nullptr, sid, nullptr}).status, 412u);
  EXPECT_EQ(events_unsubscribe(events_, {0, "127.0.0.1", nullptr, nullptr, nullptr, nullptr}), 400u);
}

TEST_F(EventsTest, SubscriptionsAreBounded) {
  for (unsigned i = 0; i < EVENTS_MAX_SUBSCRIPTIONS; ++i) {
    ASSERT_EQ(subscribe("<http://127.0.0.1:5000/n>").status, 200u) << i;
  }
  EXPECT_EQ(subscribe("<http://127.0.0.1:5000/n>").status, 503u);
}

TEST(Description, EveryArgumentNamesAStateVariableOfItsService) {
  for (const ServiceInfo &service : SERVICES) {
    const std::string scpd = description_scpd(service.scpd_path);
    std::set<std::string> variables;
    const std::regex variable("<stateVariable sendEvents=\"(yes|no)\"><name>([^<]+)</name>");
    for (std::sregex_iterator i(scpd.begin(), scpd.end(), variable), end; i != end; ++i) {
      variables.insert((*i)[2].str());
    }
    const std::regex related("<relatedStateVariable>([^<]+)</relatedStateVariable>");
    int arguments = 0;
    for (std::sregex_iterator i(scpd.begin(), scpd.end(), related), end; i != end; ++i, ++arguments) {
      EXPECT_TRUE(variables.count((*i)[1].str())) << service.scpd_path << ": " << (*i)[1].str();
    }
    EXPECT_GT(arguments, 3) << service.scpd_path;
  }
  EXPECT_EQ(description_scpd("/nothing.xml"), "");
  EXPECT_NE(description_device("A <&> B", "u-1", "2.7", 0).find("<friendlyName>A &lt;&amp;&gt; B</friendlyName>"),
            std::string::npos);
}
