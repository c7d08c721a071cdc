// The table of what devices said of themselves, and its fetching thread.
#include "DeviceNames.h"

#include <apr_errno.h>
#include <apr_hash.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "CommonDownload.h"
#include "CommonXML.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *LOGGER = "DeviceNames";
// Fetches waiting at most: a burst of announcements beyond it waits for the
// next ones, so that a flood costs bounded memory.
constexpr std::size_t kMaxJobs = 16;
// A text kept of a device, at most.
constexpr std::size_t kMaxText = 256;
constexpr std::chrono::seconds kFetchEvery{DEVICE_FETCH_EVERY_SECONDS};

struct Entry {
  DeviceFacts facts;
  Clock::time_point heard;
  std::optional<Clock::time_point> fetched;
};

struct Job {
  std::string address;
  std::string location;
};

struct DescriptionField {
  const char *path;
  std::string DeviceFacts::*field;
};

constexpr DescriptionField kDescriptionFields[] = {
    {"root/device/friendlyName", &DeviceFacts::friendly_name},
    {"root/device/manufacturer", &DeviceFacts::manufacturer},
    {"root/device/modelName", &DeviceFacts::model_name},
};

struct State {
  std::mutex mutex;  // guards everything below
  std::condition_variable wake;
  std::unordered_map<std::string, Entry> entries;
  std::deque<Job> jobs;
  bool running = false;
  bool stopping = false;
  DeviceAllowedFn allowed = nullptr;
  void *context = nullptr;
  std::string user_agent;
  std::thread thread;
};
State g;

// A device's text as kept: cut to kMaxText bytes, control characters blanked,
// so that what a hostile device sends stays one short line in the log.
std::string kept(std::string_view text) {
  std::string out(text.substr(0, kMaxText));
  std::replace_if(out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
  return out;
}

// The entry of address, made when missing (dropping the least recently heard
// one when the table is full) and marked heard now. Under g.mutex.
Entry &touch(const std::string &address) {
  if (!g.entries.contains(address) && g.entries.size() >= DEVICE_NAMES_MAX) {
    auto oldest = std::min_element(g.entries.begin(), g.entries.end(),
                                   [](const auto &a, const auto &b) { return a.second.heard < b.second.heard; });
    g.entries.erase(oldest);
  }
  Entry &entry = g.entries[address];
  entry.heard = Clock::now();
  return entry;
}

void set_said(std::string &field, std::string_view said) {
  if (!said.empty()) field = kept(said);
}

bool fetch(const Job &job, DeviceFacts *facts) {
  Pool pool(nullptr, LOGGER);
  HttpRequest request{};
  request.pool = pool;
  request.url = job.location.c_str();
  request.user_agent = g.user_agent.c_str();
  request.timeout_seconds = DEVICE_FETCH_TIMEOUT_SECONDS;
  request.cut_at = DEVICE_FETCH_MAX_BYTES;
  const int status = http_request(&request);
  const int code = http_status(request.headers, request.headers_length);
  if (status == APR_SUCCESS && code == 200 && device_description_read(pool, request.body, request.body_length, facts))
    return true;
  LOG4C(LOGGER, LOG4C_INFO,
        log4c_sprintf("The description %s of %s cannot be read (status %d, HTTP %d, at most %ld bytes)",
                      kept(job.location).c_str(), job.address.c_str(), status, code, DEVICE_FETCH_MAX_BYTES));
  return false;
}

void learn(const std::string &address, const DeviceFacts &read) {
  Entry &entry = touch(address);
  for (const DescriptionField &field : kDescriptionFields) set_said(entry.facts.*field.field, read.*field.field);
  LOG4C(LOGGER, LOG4C_INFO,
        log4c_sprintf("%s is \"%s\" (manufacturer \"%s\", model \"%s\")", address.c_str(),
                      entry.facts.friendly_name.c_str(), entry.facts.manufacturer.c_str(),
                      entry.facts.model_name.c_str()));
}

void work() {
  std::unique_lock lock(g.mutex);
  for (;;) {
    g.wake.wait(lock, [] { return g.stopping || !g.jobs.empty(); });
    if (g.stopping) return;
    Job job = std::move(g.jobs.front());
    g.jobs.pop_front();
    lock.unlock();
    DeviceFacts read;
    const bool ok = fetch(job, &read);
    lock.lock();
    if (ok) learn(job.address, read);
  }
}

}  // namespace

int device_names_start(DeviceAllowedFn allowed, void *context, const std::string &user_agent) {
  std::lock_guard lock(g.mutex);
  g.allowed = allowed;
  g.context = context;
  g.user_agent = user_agent;
  g.stopping = false;
  try {
    g.thread = std::thread(work);
  } catch (const std::system_error &error) {
    LOG4C(LOGGER, LOG4C_ERROR, log4c_sprintf("Cannot start the thread that reads descriptions: %s", error.what()));
    return APR_FROM_OS_ERROR(error.code().value());
  }
  g.running = true;
  return APR_SUCCESS;
}

void device_names_stop() {
  {
    std::lock_guard lock(g.mutex);
    if (!g.running) return;
    g.stopping = true;
    g.running = false;
  }
  g.wake.notify_all();
  g.thread.join();
  std::lock_guard lock(g.mutex);
  g.entries.clear();
  g.jobs.clear();
}

void device_names_heard(const char *address, const SsdpHeard &heard) {
  std::lock_guard lock(g.mutex);
  if (!g.running || !g.allowed(g.context, address)) return;
  const bool fetchable = device_location_of(heard.location, address) && g.jobs.size() < kMaxJobs;
  if (!fetchable && heard.user_agent.empty() && heard.friendly_name.empty()) return;
  Entry &entry = touch(address);
  set_said(entry.facts.user_agent, heard.user_agent);
  set_said(entry.facts.friendly_name, heard.friendly_name);
  if (!fetchable || (entry.fetched && entry.heard - *entry.fetched < kFetchEvery)) return;
  entry.fetched = entry.heard;
  g.jobs.push_back({address, heard.location});
  g.wake.notify_one();
}

bool device_names_of(const char *address, DeviceFacts *facts) {
  if (address == nullptr) return false;
  std::lock_guard lock(g.mutex);
  auto found = g.entries.find(address);
  if (found == g.entries.end()) return false;
  *facts = found->second.facts;
  return true;
}

bool device_location_of(std::string_view location, std::string_view address) {
  constexpr std::string_view scheme = "http://";
  if (location.size() <= scheme.size() || strncasecmp(location.data(), scheme.data(), scheme.size()) != 0 ||
      address.empty())
    return false;
  std::string_view rest = location.substr(scheme.size());
  if (rest.substr(0, address.size()) != address) return false;
  rest.remove_prefix(address.size());
  if (!rest.empty() && rest.front() == ':') {
    rest.remove_prefix(1);
    const std::size_t digits = std::min(rest.find_first_not_of("0123456789"), rest.size());
    if (digits == 0 || digits > 5) return false;
    rest.remove_prefix(digits);
  }
  // The host ends here, and nothing later may be read as one.
  return (rest.empty() || rest.front() == '/') &&
         std::none_of(rest.begin(), rest.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

bool device_description_read(apr_pool_t *pool, const char *text, std::size_t length, DeviceFacts *facts) {
  apr_hash_t *hash = nullptr;
  if (text == nullptr || xml_parse_buffer_to_hash(pool, text, length, &hash) != APR_SUCCESS) return false;
  DeviceFacts read;
  for (const DescriptionField &field : kDescriptionFields) {
    const auto *value = static_cast<const char *>(apr_hash_get(hash, field.path, APR_HASH_KEY_STRING));
    if (value != nullptr) read.*field.field = kept(value);
  }
  if (read.friendly_name.empty() && read.manufacturer.empty() && read.model_name.empty()) return false;
  *facts = read;
  return true;
}
