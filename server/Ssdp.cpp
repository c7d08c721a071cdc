#include "Ssdp.h"

#include <apr_errno.h>
#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

#include "SsdpMessage.h"
#include "SsdpSocket.h"
#include "log4c.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char *LOGGER = "Ssdp";
// Rounds of ssdp:alive at start, and the pause between them.
constexpr int START_ROUNDS = 3;
constexpr milliseconds START_PAUSE{300};
// Answers waiting for their delay; searches beyond this are dropped, so a
// flood of searches costs a bounded amount of memory and traffic.
constexpr size_t MAX_PENDING = 64;

struct Link {
  SsdpInterface interface;
  unsigned ifindex = 0;
  in_addr address{};
  int sender = -1;
  SsdpDevice device;
};

struct Answer {
  Clock::time_point due;
  size_t link;
  sockaddr_in to;
  std::vector<SsdpTarget> targets;
};

std::string host_text(const sockaddr_in &address) {
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

std::string address_text(const sockaddr_in &address) {
  return host_text(address) + ":" + std::to_string(ntohs(address.sin_port));
}

bool has_line_break(const std::string &text) { return text.find_first_of("\r\n") != std::string::npos; }

bool settings_valid(const SsdpSettings &settings) {
  std::vector<std::string> values = {settings.uuid, settings.server, settings.description_path,
                                     settings.device_type};
  values.insert(values.end(), settings.service_types.begin(), settings.service_types.end());
  return !settings.interfaces.empty() && !settings.uuid.empty() && !settings.device_type.empty() &&
         std::none_of(values.begin(), values.end(), has_line_break);
}

}  // namespace

struct Ssdp {
  std::vector<Link> links;
  int listener = -1;
  int wake = -1;
  std::thread thread;
  std::vector<Answer> answers;
  std::minstd_rand rng{std::random_device{}()};
  void (*heard)(const char *address, const SsdpHeard &heard) = nullptr;

  ~Ssdp() {
    for (Link &link : links)
      if (link.sender >= 0) close(link.sender);
    if (listener >= 0) close(listener);
    if (wake >= 0) close(wake);
  }

  void notify_all(std::string (*text)(const SsdpDevice &, const SsdpTarget &)) {
    sockaddr_in group = ssdp_socket_group();
    for (const Link &link : links)
      for (const SsdpTarget &target : ssdp_targets(link.device))
        if (int status = ssdp_socket_send(link.sender, text(link.device, target), group); status != 0)
          LOG4C(LOGGER, LOG4C_WARN, log4c_sprintf("SSDP: cannot send NOTIFY on %s: %s", link.interface.name.c_str(),
                                             strerror(status)));
  }

  // The served interface a datagram came in on, or links.size().
  size_t link_of(const SsdpDatagram &datagram) const {
    for (size_t i = 0; i < links.size(); i++)
      if (links[i].ifindex != 0 ? links[i].ifindex == datagram.ifindex
                                : links[i].address.s_addr == datagram.local.s_addr)
        return i;
    return links.size();
  }

  // Our own announcements come back to the listener too: they are no news.
  void report_heard(const SsdpDatagram &datagram) const {
    SsdpHeard said;
    if (heard == nullptr || link_of(datagram) == links.size() || !ssdp_parse_heard(datagram.text, &said)) return;
    if (std::any_of(links.begin(), links.end(), [&](const Link &l) { return l.device.location == said.location; }))
      return;
    heard(host_text(datagram.from).c_str(), said);
  }

  void on_datagram(const SsdpDatagram &datagram) {
    std::string from = address_text(datagram.from);
    if (datagram.truncated) {
      LOG4C(LOGGER, LOG4C_INFO, log4c_sprintf("SSDP: ignored an oversized datagram from %s", from.c_str()));
      return;
    }
    report_heard(datagram);
    SsdpSearch search;
    std::string why;
    SsdpParse parsed = ssdp_parse_search(datagram.text, datagram.multicast, &search, &why);
    if (parsed == SsdpParse::malformed)
      LOG4C(LOGGER, LOG4C_INFO,
            log4c_sprintf("SSDP: ignored a malformed datagram from %s: %s", from.c_str(), why.c_str()));
    if (parsed != SsdpParse::search) return;
    size_t link = link_of(datagram);
    if (link == links.size()) return;  // a search on an interface we do not serve
    std::vector<SsdpTarget> targets = ssdp_search_matches(links[link].device, search.st);
    if (targets.empty()) return;
    if (answers.size() >= MAX_PENDING) {
      LOG4C(LOGGER, LOG4C_INFO, log4c_sprintf("SSDP: too many searches waiting, dropped one from %s", from.c_str()));
      return;
    }
    // A multicast search is answered after a random part of MX, so that the
    // devices of a network do not all answer at once; a unicast one at once.
    unsigned mx = datagram.multicast ? std::min(static_cast<unsigned>(search.mx), SSDP_MX_CAP) : 0;
    milliseconds delay{mx == 0 ? 0 : rng() % (mx * 1000)};
    answers.push_back({Clock::now() + delay, link, datagram.from, std::move(targets)});
  }

  void send_due_answers(Clock::time_point now) {
    std::string date = ssdp_http_date(std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
    auto due = std::partition(answers.begin(), answers.end(), [now](const Answer &a) { return a.due > now; });
    for (auto answer = due; answer != answers.end(); ++answer) {
      const Link &link = links[answer->link];
      for (const SsdpTarget &target : answer->targets)
        if (int status = ssdp_socket_send(link.sender, ssdp_search_answer(link.device, target, date), answer->to);
            status != 0)
          LOG4C(LOGGER, LOG4C_INFO, log4c_sprintf("SSDP: cannot answer %s: %s", address_text(answer->to).c_str(),
                                             strerror(status)));
    }
    answers.erase(due, answers.end());
  }

  void drain_listener() {
    SsdpDatagram datagram;
    while (ssdp_socket_receive(listener, &datagram) == 0) on_datagram(datagram);
  }

  void run(milliseconds interval) {
    Clock::time_point next_alive = Clock::now();
    int rounds = 0;
    for (;;) {
      Clock::time_point now = Clock::now();
      if (now >= next_alive) {
        notify_all(ssdp_alive);
        next_alive = now + (++rounds < START_ROUNDS ? START_PAUSE : interval);
      }
      send_due_answers(now);
      Clock::time_point wake_at = next_alive;
      for (const Answer &answer : answers) wake_at = std::min(wake_at, answer.due);
      auto wait = std::chrono::duration_cast<milliseconds>(wake_at - now).count();
      pollfd fds[2] = {{listener, POLLIN, 0}, {wake, POLLIN, 0}};
      if (poll(fds, 2, static_cast<int>(std::max<long long>(wait, 0) + 1)) < 0 && errno != EINTR) {
        LOG4C(LOGGER, LOG4C_ERROR, log4c_sprintf("SSDP: poll failed: %s", strerror(errno)));
        return;
      }
      if (fds[1].revents) return;
      if (fds[0].revents) drain_listener();
    }
  }
};

namespace {

// Opens the sender of one interface and joins the listener to the group there.
int open_link(Ssdp *ssdp, const SsdpSettings &settings, const SsdpInterface &interface) {
  Link link;
  link.interface = interface;
  if (inet_pton(AF_INET, interface.address.c_str(), &link.address) != 1) {
    LOG4C(LOGGER, LOG4C_ERROR, log4c_sprintf("SSDP: interface %s has no IPv4 address: \"%s\"", interface.name.c_str(),
                                        interface.address.c_str()));
    return APR_EINVAL;
  }
  link.ifindex = if_nametoindex(interface.name.c_str());
  link.device = {settings.uuid,
                 settings.server,
                 "http://" + interface.address + ":" + std::to_string(settings.http_port) + settings.description_path,
                 settings.max_age,
                 settings.device_type,
                 settings.service_types};
  int status = ssdp_socket_sender(link.address, &link.sender);
  const char *step = "open a socket on";
  if (status == 0) {
    step = "join the SSDP group on";
    status = ssdp_socket_join(ssdp->listener, link.ifindex, link.address);
  }
  if (link.sender >= 0) ssdp->links.push_back(link);
  if (status == 0) return APR_SUCCESS;
  LOG4C(LOGGER, LOG4C_ERROR, log4c_sprintf("SSDP: cannot %s %s (%s): %s", step, interface.name.c_str(),
                                      interface.address.c_str(), strerror(status)));
  return APR_FROM_OS_ERROR(status);
}

}  // namespace

int ssdp_start(const SsdpSettings &settings, Ssdp **out) {
  *out = nullptr;
  if (!settings_valid(settings)) {
    LOG4C(LOGGER, LOG4C_ERROR, "SSDP: settings need an interface, a UUID and a device type, and no line breaks");
    return APR_EINVAL;
  }
  auto ssdp = std::make_unique<Ssdp>();
  ssdp->heard = settings.heard;
  if (int status = ssdp_socket_listen(&ssdp->listener); status != 0) {
    LOG4C(LOGGER, LOG4C_ERROR, log4c_sprintf("SSDP: cannot listen on port %u: %s", SSDP_PORT, strerror(status)));
    return APR_FROM_OS_ERROR(status);
  }
  for (const SsdpInterface &interface : settings.interfaces)
    if (int status = open_link(ssdp.get(), settings, interface); status != APR_SUCCESS) return status;
  ssdp->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (ssdp->wake < 0) {
    LOG4C(LOGGER, LOG4C_ERROR, log4c_sprintf("SSDP: cannot make an event descriptor: %s", strerror(errno)));
    return APR_FROM_OS_ERROR(errno);
  }
  milliseconds interval{std::max(settings.max_age / 2, 1u) * 1000ull};
  Ssdp *running = ssdp.release();
  running->thread = std::thread([running, interval] { running->run(interval); });
  LOG4C(LOGGER, LOG4C_INFO, log4c_sprintf("SSDP: announcing uuid:%s on %zu interface(s)", settings.uuid.c_str(),
                                     settings.interfaces.size()));
  *out = running;
  return APR_SUCCESS;
}

void ssdp_stop(Ssdp *ssdp) {
  if (!ssdp) return;
  uint64_t one = 1;
  if (write(ssdp->wake, &one, sizeof one) < 0)
    LOG4C(LOGGER, LOG4C_ERROR, log4c_sprintf("SSDP: cannot wake the announcer: %s", strerror(errno)));
  ssdp->thread.join();
  ssdp->notify_all(ssdp_byebye);
  delete ssdp;
}
