#include <gtest/gtest.h>

#include "SsdpMessage.h"

namespace {

const SsdpDevice DEVICE = {"1234-ab", "Linux/6 UPnP/1.0 Test/1", "http://169.254.1.1:41952/desc.xml", 1800,
                           "urn:schemas-upnp-org:device:MediaServer:1",
                           {"urn:schemas-upnp-org:service:ContentDirectory:1",
                            "urn:schemas-upnp-org:service:ConnectionManager:1"}};

TEST(SsdpMessage, AnnouncementsAndAnswerCarryEveryHeaderOnce) {
  SsdpTarget root = ssdp_targets(DEVICE)[0];
  EXPECT_EQ(ssdp_alive(DEVICE, root),
            "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
            "LOCATION: http://169.254.1.1:41952/desc.xml\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n"
            "SERVER: Linux/6 UPnP/1.0 Test/1\r\nUSN: uuid:1234-ab::upnp:rootdevice\r\n\r\n");
  EXPECT_EQ(ssdp_byebye(DEVICE, root),
            "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: upnp:rootdevice\r\nNTS: ssdp:byebye\r\n"
            "USN: uuid:1234-ab::upnp:rootdevice\r\n\r\n");
  EXPECT_EQ(ssdp_search_answer(DEVICE, root, ssdp_http_date(0)),
            "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nDATE: Thu, 01 Jan 1970 00:00:00 GMT\r\nEXT:\r\n"
            "LOCATION: http://169.254.1.1:41952/desc.xml\r\nSERVER: Linux/6 UPnP/1.0 Test/1\r\n"
            "ST: upnp:rootdevice\r\nUSN: uuid:1234-ab::upnp:rootdevice\r\n\r\n");
}

TEST(SsdpMessage, SearchTargetsFindTheirPairs) {
  const std::string cd = "urn:schemas-upnp-org:service:ContentDirectory:1";
  struct Case {
    std::string st;
    std::vector<std::pair<std::string, std::string>> expected;  // ST, USN
  } cases[] = {
      {"upnp:rootdevice", {{"upnp:rootdevice", "uuid:1234-ab::upnp:rootdevice"}}},
      {"uuid:1234-ab", {{"uuid:1234-ab", "uuid:1234-ab"}}},
      {"urn:schemas-upnp-org:device:MediaServer:1",
       {{"urn:schemas-upnp-org:device:MediaServer:1", "uuid:1234-ab::urn:schemas-upnp-org:device:MediaServer:1"}}},
      {cd, {{cd, "uuid:1234-ab::" + cd}}},
      {"ssdp:all",
       {{"upnp:rootdevice", "uuid:1234-ab::upnp:rootdevice"},
        {"uuid:1234-ab", "uuid:1234-ab"},
        {"urn:schemas-upnp-org:device:MediaServer:1", "uuid:1234-ab::urn:schemas-upnp-org:device:MediaServer:1"},
        {cd, "uuid:1234-ab::" + cd},
        {"urn:schemas-upnp-org:service:ConnectionManager:1",
         "uuid:1234-ab::urn:schemas-upnp-org:service:ConnectionManager:1"}}},
      // Newer versions than ours, other devices and other UUIDs find nothing.
      {"urn:schemas-upnp-org:device:MediaServer:2", {}},
      {"urn:schemas-upnp-org:device:MediaServer:", {}},
      {"urn:schemas-upnp-org:device:MediaRenderer:1", {}},
      {"uuid:1234-ac", {}},
      {"uuid:1234-ab::upnp:rootdevice", {}},
  };
  for (const Case &c : cases) {
    std::vector<std::pair<std::string, std::string>> got;
    for (const SsdpTarget &t : ssdp_search_matches(DEVICE, c.st)) got.push_back({t.nt, t.usn});
    EXPECT_EQ(got, c.expected) << c.st;
  }
}

TEST(SsdpMessage, OlderVersionSearchIsAnsweredWithTheVersionSearched) {
  SsdpDevice v3 = DEVICE;
  v3.device_type = "urn:schemas-upnp-org:device:MediaServer:3";
  std::vector<SsdpTarget> got = ssdp_search_matches(v3, "urn:schemas-upnp-org:device:MediaServer:2");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].nt, "urn:schemas-upnp-org:device:MediaServer:2");
  EXPECT_EQ(got[0].usn, "uuid:1234-ab::urn:schemas-upnp-org:device:MediaServer:2");
}

TEST(SsdpMessage, DatagramsAreReadOrRefused) {
  const std::string head = "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n";
  struct Case {
    const char *name;
    std::string datagram;
    bool multicast;
    SsdpParse expected;
    std::string st;
    int mx;
  } cases[] = {
      {"multicast search", head + "MAN: \"ssdp:discover\"\r\nMX: 3\r\nST: ssdp:all\r\n\r\n", true, SsdpParse::search,
       "ssdp:all", 3},
      {"header names in any case, bare LF",
       "M-SEARCH * HTTP/1.1\nman:  \"ssdp:discover\"\nst:upnp:rootdevice \nmx:1\n\n",
       true, SsdpParse::search, "upnp:rootdevice", 1},
      {"unicast search without MX", head + "MAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n\r\n", false,
       SsdpParse::search, "ssdp:all", -1},
      {"notify of another device", "NOTIFY * HTTP/1.1\r\nNTS: ssdp:alive\r\n\r\n", true, SsdpParse::not_search, "",
       -1},
      {"answer of another device", "HTTP/1.1 200 OK\r\nST: ssdp:all\r\n\r\n", false, SsdpParse::not_search, "", -1},
      {"multicast search without MX", head + "MAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n\r\n", true,
       SsdpParse::malformed, "", -1},
      {"MX not a number", head + "MAN: \"ssdp:discover\"\r\nMX: 3s\r\nST: ssdp:all\r\n\r\n", true,
       SsdpParse::malformed, "", -1},
      {"negative MX", head + "MAN: \"ssdp:discover\"\r\nMX: -1\r\nST: ssdp:all\r\n\r\n", true, SsdpParse::malformed,
       "", -1},
      {"MX beyond int", head + "MAN: \"ssdp:discover\"\r\nMX: 99999999999999\r\nST: ssdp:all\r\n\r\n", true,
       SsdpParse::malformed, "", -1},
      {"MAN unquoted", head + "MAN: ssdp:discover\r\nMX: 1\r\nST: ssdp:all\r\n\r\n", true, SsdpParse::malformed, "",
       -1},
      {"no ST", head + "MAN: \"ssdp:discover\"\r\nMX: 1\r\n\r\n", true, SsdpParse::malformed, "", -1},
      {"header without colon", head + "MAN \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all\r\n\r\n", true,
       SsdpParse::malformed, "", -1},
      {"NUL inside", std::string("M-SEARCH * HTTP/1.1\r\nST: a\0b\r\n\r\n", 32), true, SsdpParse::malformed, "", -1},
      {"empty datagram", "", true, SsdpParse::malformed, "", -1},
      {"binary noise", "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", true, SsdpParse::malformed, "", -1},
  };
  for (const Case &c : cases) {
    SsdpSearch search;
    std::string why;
    SsdpParse parsed = ssdp_parse_search(c.datagram, c.multicast, &search, &why);
    EXPECT_EQ(parsed, c.expected) << c.name;
    if (parsed == SsdpParse::search) {
      EXPECT_EQ(search.st, c.st) << c.name;
      EXPECT_EQ(search.mx, c.mx) << c.name;
    }
    EXPECT_EQ(why.empty(), parsed != SsdpParse::malformed) << c.name;
  }
}

}  // namespace
