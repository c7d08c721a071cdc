// Players recognised by what they send and by what their address said of
// itself: the SSDP datagrams read, the LOCATIONs the server agrees to fetch,
// the descriptions read (hostile ones too) and the table's verdicts.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ClientProfiles.h"
#include "DeviceNames.h"
#include "SsdpMessage.h"
#include "LogCapture.h"

namespace {

std::string description(const std::string &device) {
  return "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
         "</specVersion><device><deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>" +
         device + "</device></root>";
}

TEST(ClientProfiles, SsdpDatagramsSayWhoSentThem) {
  struct Case {
    const char *datagram;
    bool heard;
    SsdpHeard expected;
  };
  const Case cases[] = {
      {"NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n"
       "location: http://10.0.0.5:7676/dmr\r\nUSER-AGENT: x\r\n\r\n",
       true, {"http://10.0.0.5:7676/dmr", "", ""}},
      {"NOTIFY * HTTP/1.1\r\nNTS: ssdp:byebye\r\nLOCATION: http://10.0.0.5/d\r\n\r\n", false, {}},
      {"NOTIFY * HTTP/1.1\r\nNTS: ssdp:alive\r\n\r\n", false, {}},
      {"M-SEARCH * HTTP/1.1\r\nMAN: \"ssdp:discover\"\r\nST: ssdp:all\r\nMX: 2\r\nLOCATION: http://x/\r\n"
       "USER-AGENT: Linux UPnP/1.0 SEC_HHP_[TV] Samsung/1.0\r\nCPFN.UPNP.ORG: [TV] Samsung Q60\r\n\r\n",
       true, {"", "Linux UPnP/1.0 SEC_HHP_[TV] Samsung/1.0", "[TV] Samsung Q60"}},
      {"M-SEARCH * HTTP/1.1\r\nMAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n\r\n", false, {}},
      {"HTTP/1.1 200 OK\r\nLOCATION: http://10.0.0.5/d\r\n\r\n", false, {}},
      {"NOTIFY * HTTP/1.1\r\nNTS ssdp:alive\r\nLOCATION: http://10.0.0.5/d\r\n\r\n", false, {}},
  };
  for (const Case &c : cases) {
    SsdpHeard heard;
    EXPECT_EQ(ssdp_parse_heard(c.datagram, &heard), c.heard) << c.datagram;
    if (!c.heard) continue;
    EXPECT_EQ(heard.location, c.expected.location) << c.datagram;
    EXPECT_EQ(heard.user_agent, c.expected.user_agent) << c.datagram;
    EXPECT_EQ(heard.friendly_name, c.expected.friendly_name) << c.datagram;
  }
}

TEST(ClientProfiles, OnlyTheAnnouncingAddressItselfIsFetched) {
  const std::pair<const char *, bool> cases[] = {
      {"http://169.254.27.2:8080/tv.xml", true},
      {"HTTP://169.254.27.2/tv.xml", true},
      {"http://169.254.27.2", true},
      {"http://169.254.27.3:8080/tv.xml", false},    // another host: never a request cannon
      {"http://169.254.27.21/tv.xml", false},        // a longer address
      {"http://169.254.27.2.example.com/", false},   // a name that starts like it
      {"http://169.254.27.2@169.254.27.3/", false},  // user info
      {"http://169.254.27.2:80@169.254.27.3/", false},
      {"http://169.254.27.2:/tv.xml", false},
      {"http://169.254.27.2:123456/tv.xml", false},
      {"https://169.254.27.2/tv.xml", false},
      {"file:///etc/passwd", false},
      {"http://169.254.27.2/a b", false},
      {"", false},
  };
  for (const auto &[location, fetched] : cases)
    EXPECT_EQ(device_location_of(location, "169.254.27.2"), fetched) << location;
}

// Rows learnt from a description decide as request headers do; a client
// nothing is known of gets the standard behaviour.
TEST(ClientProfiles, RecognisedByHeadersOrByTheDescriptionTheirAddressAnnounced) {
  struct Case {
    std::map<std::string, std::string> headers;
    std::string described;  // the device elements of its description; empty: none learnt
    const char *profile;
    unsigned quirk;
  };
  const Case cases[] = {
      {{}, "", "standard", 0},
      {{{"User-Agent", "DLNADOC/1.50 SEC_HHP_[TV] Samsung/1.0"}}, "", "Samsung", CLIENT_MKV_AS_X_MKV},
      {{{"CPFN.UPNP.ORG", "[TV] Samsung Q60 Series (55)"}}, "", "Samsung", CLIENT_SAMSUNG_FEATURES},
      {{{"User-Agent", "Xbox/2.0.4548.0 UPnP/1.0"}}, "", "Xbox", CLIENT_XBOX_IDS},
      {{{"User-Agent", "Linux/4 UPnP/1.0 DLNADOC/1.50"}},
       "<friendlyName>[TV] Samsung Q60 Series (55)</friendlyName><manufacturer>Samsung Electronics</manufacturer>"
       "<modelName>QE55Q60</modelName>",
       "Samsung", CLIENT_MKV_AS_X_MKV},
      {{}, "<friendlyName>Living room</friendlyName><manufacturer>Samsung Electronics</manufacturer>", "Samsung",
       CLIENT_SAMSUNG_FEATURES},
      {{}, "<friendlyName>TV-46C7700</friendlyName><modelName>Samsung DTV DMR</modelName>", "Samsung",
       CLIENT_SAMSUNG_FEATURES},
      {{}, "<friendlyName>[LG] webOS TV UH6030</friendlyName><manufacturer>LG Electronics</manufacturer>", "LG",
       CLIENT_SORT_BY_TITLE},
      {{}, "<friendlyName>Den</friendlyName><manufacturer>Microsoft Corporation</manufacturer>"
           "<modelName>Xbox One</modelName>",
       "Xbox", CLIENT_MS_REGISTRAR},
      {{}, "<friendlyName>PS4</friendlyName><modelName>PlayStation 4</modelName>", "PlayStation",
       CLIENT_AVI_AS_DIVX},
      {{}, "<friendlyName>Kodi</friendlyName><manufacturer>XBMC Foundation</manufacturer>", "standard", 0},
  };
  TestPool pool;
  for (const Case &c : cases) {
    DeviceFacts learnt;
    if (!c.described.empty()) {
      ASSERT_TRUE(device_description_read(pool, description(c.described).c_str(),
                                          description(c.described).size(), &learnt))
          << c.described;
    }
    const ClientProfile &profile = client_profile_match(
        [&c](const char *name) {
          auto found = c.headers.find(name);
          return found != c.headers.end() ? found->second.c_str() : nullptr;
        },
        c.described.empty() ? nullptr : &learnt);
    EXPECT_STREQ(profile.name, c.profile) << c.described;
    EXPECT_EQ(profile.quirks & c.quirk, c.quirk) << c.described;
  }
}

TEST(ClientProfiles, DescriptionsAreReadWithNamespacesAndHostileOnesRefused) {
  LogCapture log;
  TestPool pool;
  const std::string prefixed =
      "<u:root xmlns:u=\"urn:schemas-upnp-org:device-1-0\"><u:device><u:friendlyName>[LG] webOS TV\n"
      "EG910V</u:friendlyName><u:modelName>LG TV</u:modelName></u:device></u:root>";
  DeviceFacts facts;
  ASSERT_TRUE(device_description_read(pool, prefixed.c_str(), prefixed.size(), &facts));
  EXPECT_EQ(facts.friendly_name, "[LG] webOS TV EG910V");  // the line break blanked
  EXPECT_EQ(facts.model_name, "LG TV");
  const std::string long_name = description("<friendlyName>" + std::string(5000, 'x') + "</friendlyName>");
  ASSERT_TRUE(device_description_read(pool, long_name.c_str(), long_name.size(), &facts));
  EXPECT_EQ(facts.friendly_name.size(), 256u);
  const std::string hostile[] = {
      // Entities expanded a billion times, or read from a file: refused, not expanded.
      "<?xml version=\"1.0\"?><!DOCTYPE root [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>" + description("<friendlyName>&c;&c;&c;</friendlyName>"),
      "<?xml version=\"1.0\"?><!DOCTYPE root [<!ENTITY f SYSTEM \"file:///etc/hostname\">]>" +
          description("<friendlyName>&f;</friendlyName>"),
      description("<friendlyName>[TV] Samsung"),  // cut short
      "<root><device><deviceType>x</deviceType></device></root>",  // nothing to learn
      "",
  };
  for (const std::string &text : hostile) {
    DeviceFacts untouched{"before", "", "", ""};
    EXPECT_FALSE(device_description_read(pool, text.c_str(), text.size(), &untouched)) << text;
    EXPECT_EQ(untouched.friendly_name, "before");
  }
}

}  // namespace
