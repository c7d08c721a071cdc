#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "LogCapture.h"
#include "ProgramRun.h"
#include "Ssdp.h"

namespace {

const std::string MEDIA_SERVER = "urn:schemas-upnp-org:device:MediaServer:1";

SsdpSettings settings_on(const SsdpInterface &interface) {
  return {"5ab2b1d0-27aa-4c1e-9d2e-00000000ssdp",
          "Linux/6 UPnP/1.0 Test/1",
          41952,
          "/description.xml",
          1800,
          MEDIA_SERVER,
          {"urn:schemas-upnp-org:service:ContentDirectory:1", "urn:schemas-upnp-org:service:ConnectionManager:1"},
          {interface}};
}

// A UDP socket on 127.0.0.1 that sends to the SSDP port and collects answers.
class Searcher {
 public:
  Searcher() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local);
  }
  ~Searcher() { close(fd_); }
  void send(const std::string &text) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(1900);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  }
  // Every datagram that arrives within the wait, in order.
  std::vector<std::string> receive(std::chrono::milliseconds wait) {
    std::vector<std::string> got;
    auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return got;
      char buffer[4096];
      ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) got.emplace_back(buffer, static_cast<size_t>(n));
    }
  }

 private:
  int fd_ = -1;
};

std::string search_for(const std::string &st) {
  return "M-SEARCH * HTTP/1.1\r\nHOST: 127.0.0.1:1900\r\nMAN: \"ssdp:discover\"\r\nST: " + st + "\r\n\r\n";
}

// Runs body on a thread in a network namespace of its own where the machine
// allows one, so that no other program's SSDP socket on this host takes the
// search; else on this host's loopback.
void on_private_loopback(const std::function<void()> &body) {
  std::thread([&] {
    if (unshare(CLONE_NEWNET) == 0) run_program("/usr/sbin/ip", {"link", "set", "lo", "up"}, ".");
    body();
  }).join();
}

TEST(SsdpLive, UnicastSearchOnLoopbackIsAnsweredWithLoopbackLocation) {
  LogCapture log;
  on_private_loopback([] {
    Ssdp *ssdp = nullptr;
    ASSERT_EQ(ssdp_start(settings_on({"lo", "127.0.0.1"}), &ssdp), 0);
    Searcher searcher;
    // Noise first: none of it may stop the answer to the real search.
    searcher.send("GET / HTTP/1.1\r\n\r\n");
    searcher.send(std::string(5000, 'M'));
    searcher.send("M-SEARCH * HTTP/1.1\r\nST: ssdp:all\r\n\r\n");
    searcher.send(search_for(MEDIA_SERVER));
    std::vector<std::string> got = searcher.receive(std::chrono::milliseconds(1500));
    EXPECT_EQ(got.size(), 1u);
    got.resize(1);  // an empty answer fails the checks below, and ssdp still stops
    EXPECT_NE(got[0].find("\r\nLOCATION: http://127.0.0.1:41952/description.xml\r\n"), std::string::npos) << got[0];
    EXPECT_NE(got[0].find("\r\nST: " + MEDIA_SERVER + "\r\n"), std::string::npos) << got[0];
    EXPECT_NE(got[0].find("\r\nUSN: uuid:5ab2b1d0-27aa-4c1e-9d2e-00000000ssdp::" + MEDIA_SERVER + "\r\n"),
              std::string::npos);

    searcher.send(search_for("ssdp:all"));
    EXPECT_EQ(searcher.receive(std::chrono::milliseconds(1500)).size(), 5u);
    ssdp_stop(ssdp);
  });
  EXPECT_TRUE(log.contains("ignored a malformed datagram from 127.0.0.1"));
  EXPECT_TRUE(log.contains("ignored an oversized datagram from 127.0.0.1"));
}

TEST(SsdpLive, StartRefusesWhatItCannotServe) {
  LogCapture log;
  SsdpSettings no_interface = settings_on({"lo", "127.0.0.1"});
  no_interface.interfaces.clear();
  SsdpSettings header_injection = settings_on({"lo", "127.0.0.1"});
  header_injection.server += "\r\nX-Evil: 1";
  // 192.0.2.1 (TEST-NET-1) is on no interface of this machine: binding fails.
  const SsdpSettings cases[] = {no_interface, header_injection, settings_on({"lo", "localhost"}),
                                settings_on({"lo", "192.0.2.1"})};
  for (const SsdpSettings &settings : cases) {
    Ssdp *ssdp = reinterpret_cast<Ssdp *>(1);
    EXPECT_NE(ssdp_start(settings, &ssdp), 0);
    EXPECT_EQ(ssdp, nullptr);
  }
  EXPECT_TRUE(log.contains("SSDP: cannot open a socket on lo (192.0.2.1)"));
}

}  // namespace
