#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "LogCapture.h"
#include "ProgramRun.h"
#include "Ssdp.h"

namespace {

// Two namespaces joined by a veth pair (tests/server/netns.sh), removed with
// this object. Nothing of the test's multicast leaves them.
class NamespacePair {
 public:
  NamespacePair() : tag_(std::to_string(getpid())) {
    ProgramResult up = run_program("/bin/sh", {NETNS_SCRIPT, "up", tag_}, ".");
    ready_ = up.status == 0;
    error_ = up.err;
  }
  ~NamespacePair() { run_program("/bin/sh", {NETNS_SCRIPT, "down", tag_}, "."); }
  bool ready() const { return ready_; }
  const std::string &error() const { return error_; }
  std::string name(char side) const { return "ml" + tag_ + side; }

 private:
  std::string tag_;
  bool ready_ = false;
  std::string error_;
};

// Starts the announcer from a thread that first enters namespace ns, so that
// its sockets live there.
int start_in(const std::string &ns, const SsdpSettings &settings, Ssdp **ssdp) {
  int status = -1;
  std::thread([&] {
    int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && setns(fd, CLONE_NEWNET) == 0) status = ssdp_start(settings, ssdp);
    if (fd >= 0) close(fd);
  }).join();
  return status;
}

TEST(SsdpNamespace, GssdpDiscoverSeesAliveAndByebyeFromTheOtherNamespace) {
  LogCapture log;
  NamespacePair pair;
  if (!pair.ready()) GTEST_SKIP() << "no network namespaces: " << pair.error();
  const std::string uuid = "5ab2b1d0-27aa-4c1e-9d2e-" + std::to_string(getpid());
  SsdpSettings settings = {uuid,
                           "Linux/6 UPnP/1.0 Test/1",
                           41952,
                           "/description.xml",
                           1800,
                           "urn:schemas-upnp-org:device:MediaServer:1",
                           {"urn:schemas-upnp-org:service:ContentDirectory:1"},
                           {{"lo", "127.0.0.1"}, {pair.name('a') + "0", "169.254.27.1"}}};
  Ssdp *ssdp = nullptr;
  ASSERT_EQ(start_in(pair.name('a'), settings, &ssdp), 0);
  // gssdp-discover searches once at start, then hears the NOTIFYs.
  ProgramResult seen;
  std::thread discover([&] {
    seen = run_program("/usr/sbin/ip",
                       {"netns", "exec", pair.name('b'), "gssdp-discover", "-i", pair.name('b') + "0", "-n", "4", "-m",
                        "all", "-t", "urn:schemas-upnp-org:device:MediaServer:1"},
                       ".");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ssdp_stop(ssdp);
  discover.join();
  ASSERT_EQ(seen.status, 0) << seen.err;
  std::string usn = "  USN:      uuid:" + uuid + "::urn:schemas-upnp-org:device:MediaServer:1\n";
  std::string available = "resource available\n" + usn + "  Location: http://169.254.27.1:41952/description.xml";
  std::string unavailable = "resource unavailable\n" + usn;
  EXPECT_NE(seen.out.find(available), std::string::npos) << seen.out;
  EXPECT_NE(seen.out.find(unavailable), std::string::npos) << seen.out;
  // The search came in on the veth: its answer names no other interface.
  EXPECT_EQ(seen.out.find("127.0.0.1"), std::string::npos) << seen.out;
}

}  // namespace
