// Subscriptions, the delivery queue and the NOTIFY requests.
#include "Events.h"

#include <apr_uuid.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "Soap.h"
#include "log4c.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNotifyTimeoutMs = 3000;
constexpr unsigned kMinTimeout = 60;
constexpr unsigned kMaxTimeout = 86400;

struct Subscription {
  int service;
  std::string host;  // the subscriber's address: the only host NOTIFY goes to
  unsigned port;
  std::string path;
  Clock::time_point expires;
  unsigned seq = 0;
};

struct Delivery {
  std::string sid;
  std::string body;
};

void log_events(int level, const char *message) { log4c_log("Events", level, message, __FILE__, __LINE__); }

// "<http://host:port/path>": true when host is exactly client.
bool parse_callback(const char *header, const char *client, Subscription *s) {
  constexpr const char *kStart = "<http://";
  if (header == nullptr || std::strncmp(header, kStart, std::strlen(kStart)) != 0) return false;
  const char *host = header + std::strlen(kStart);
  const char *close = std::strchr(host, '>');
  if (close == nullptr) return false;
  const std::string url(host, close);
  const std::size_t slash = url.find('/');
  const std::string authority = url.substr(0, slash);
  s->path = slash == std::string::npos ? "/" : url.substr(slash);
  const std::size_t colon = authority.find(':');
  s->host = authority.substr(0, colon);
  s->port = 80;
  if (colon != std::string::npos) {
    const std::string port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    s->port = static_cast<unsigned>(std::stoul(port));
  }
  const bool clean = s->path.find_first_of("\r\n ") == std::string::npos;
  return clean && s->port > 0 && s->port < 65536 && s->host == client;
}

unsigned parse_timeout(const char *header) {
  constexpr const char *kSecond = "Second-";
  if (header == nullptr || strncasecmp(header, kSecond, std::strlen(kSecond)) != 0) return EVENTS_DEFAULT_TIMEOUT;
  const unsigned long seconds = std::strtoul(header + std::strlen(kSecond), nullptr, 10);
  if (seconds == 0) return EVENTS_DEFAULT_TIMEOUT;  // "infinite" and nonsense alike
  return static_cast<unsigned>(std::clamp<unsigned long>(seconds, kMinTimeout, kMaxTimeout));
}

std::string new_sid() {
  apr_uuid_t uuid;
  apr_uuid_get(&uuid);
  char text[APR_UUID_FORMATTED_LENGTH + 1];
  apr_uuid_format(text, &uuid);
  return std::string("uuid:") + text;
}

bool wait_for(int fd, short events) {
  pollfd p{fd, events, 0};
  return poll(&p, 1, kNotifyTimeoutMs) == 1 && (p.revents & events) != 0;
}

// One NOTIFY; false when the subscriber did not take it with a 2xx.
bool notify(const Subscription &s, const std::string &sid, const std::string &body) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(s.port));
  if (inet_pton(AF_INET, s.host.c_str(), &to.sin_addr) != 1) return false;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  std::string request = "NOTIFY " + s.path + " HTTP/1.1\r\nHOST: " + s.host + ":" + std::to_string(s.port) +
                        "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nNT: upnp:event\r\nNTS: upnp:propchange\r\n"
                        "SID: " + sid + "\r\nSEQ: " + std::to_string(s.seq) + "\r\nCONTENT-LENGTH: " +
                        std::to_string(body.size()) + "\r\nCONNECTION: close\r\n\r\n" + body;
  bool sent = connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0 || errno == EINPROGRESS;
  std::size_t at = 0;
  while (sent && at < request.size() && wait_for(fd, POLLOUT)) {
    const ssize_t n = ::send(fd, request.data() + at, request.size() - at, MSG_NOSIGNAL);
    if (n <= 0) sent = false;
    else at += static_cast<std::size_t>(n);
  }
  char status[16] = "";
  const bool answered = sent && at == request.size() && wait_for(fd, POLLIN) && recv(fd, status, 12, 0) >= 12;
  close(fd);
  return answered && std::strncmp(status, "HTTP/1.", 7) == 0 && status[9] == '2';
}

}  // namespace

struct Events {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::map<std::string, Subscription> subscriptions;
  std::vector<EventVariables> state;
  std::deque<Delivery> queue;
  std::thread thread;

  void run();
  void queue_for(const std::string &sid, const std::string &body) {
    queue.push_back({sid, body});
    wake.notify_one();
  }
};

void Events::run() {
  std::unique_lock lock(mutex);
  while (!stopping) {
    if (queue.empty()) {
      wake.wait_for(lock, std::chrono::seconds(1));
      std::erase_if(subscriptions, [](const auto &entry) { return entry.second.expires < Clock::now(); });
      continue;
    }
    Delivery delivery = std::move(queue.front());
    queue.pop_front();
    auto found = subscriptions.find(delivery.sid);
    if (found == subscriptions.end()) continue;
    Subscription target = found->second;
    found->second.seq = found->second.seq == 0xFFFFFFFFu ? 1 : found->second.seq + 1;
    lock.unlock();
    if (!notify(target, delivery.sid, delivery.body)) {
      log_events(LOG4C_WARN, log4c_sprintf("Could not deliver an event to %s:%u%s", target.host.c_str(),
                                           target.port, target.path.c_str()));
    }
    lock.lock();
  }
}

int events_start(const std::vector<EventVariables> &initial, Events **out) {
  auto *events = new Events;
  events->state = initial;
  try {
    events->thread = std::thread([events] { events->run(); });
  } catch (const std::system_error &) {
    delete events;
    log_events(LOG4C_ERROR, "Could not start the event thread");
    return APR_EGENERAL;
  }
  *out = events;
  return APR_SUCCESS;
}

void events_stop(Events *events) {
  if (events == nullptr) return;
  {
    std::lock_guard lock(events->mutex);
    events->stopping = true;
  }
  events->wake.notify_one();
  events->thread.join();
  delete events;
}

EventAnswer events_subscribe(Events *events, const EventRequest &request) {
  const unsigned timeout = parse_timeout(request.timeout);
  std::lock_guard lock(events->mutex);
  if (request.sid != nullptr) {  // a renewal names nothing else
    if (request.callback != nullptr || request.nt != nullptr) return {400, "", 0, "A renewal with a callback"};
    auto found = events->subscriptions.find(request.sid);
    if (found == events->subscriptions.end() || found->second.service != request.service) {
      return {412, "", 0, "No such subscription"};
    }
    found->second.expires = Clock::now() + std::chrono::seconds(timeout);
    return {200, request.sid, timeout, nullptr};
  }
  Subscription s{};
  if (request.nt == nullptr || std::strcmp(request.nt, "upnp:event") != 0) return {412, "", 0, "NT is not upnp:event"};
  if (!parse_callback(request.callback, request.client, &s)) {
    return {412, "", 0, "The callback is not an http URL on the subscriber's own address"};
  }
  if (events->subscriptions.size() >= EVENTS_MAX_SUBSCRIPTIONS) return {503, "", 0, "Too many subscriptions"};
  s.service = request.service;
  s.expires = Clock::now() + std::chrono::seconds(timeout);
  const std::string sid = new_sid();
  events->subscriptions.emplace(sid, s);
  return {200, sid, timeout, nullptr};
}

unsigned events_unsubscribe(Events *events, const EventRequest &request) {
  if (request.sid == nullptr || request.callback != nullptr || request.nt != nullptr) return 400;
  std::lock_guard lock(events->mutex);
  return events->subscriptions.erase(request.sid) > 0 ? 200 : 412;
}

void events_send_initial(Events *events, const std::string &sid) {
  std::lock_guard lock(events->mutex);
  auto found = events->subscriptions.find(sid);
  if (found == events->subscriptions.end()) return;
  events->queue_for(sid, events_body(events->state[static_cast<std::size_t>(found->second.service)]));
}

void events_publish(Events *events, int service, const EventVariables &changed) {
  std::lock_guard lock(events->mutex);
  EventVariables &state = events->state[static_cast<std::size_t>(service)];
  for (const auto &[name, value] : changed) {
    bool known = false;
    for (auto &entry : state) {
      if (entry.first == name) {
        entry.second = value;
        known = true;
      }
    }
    if (!known) state.emplace_back(name, value);
  }
  const std::string body = events_body(changed);
  for (const auto &[sid, subscription] : events->subscriptions) {
    if (subscription.service == service) events->queue_for(sid, body);
  }
}

std::string events_body(const EventVariables &variables) {
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">";
  for (const auto &[name, value] : variables) {
    out += "<e:property><" + name + ">" + soap_escape(value) + "</" + name + "></e:property>";
  }
  return out + "</e:propertyset>\n";
}
