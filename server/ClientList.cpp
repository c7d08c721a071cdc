// The clients seen lately.
#include "ClientList.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr std::size_t kKept = 32;

std::mutex g_mutex;
std::vector<SeenClient> g_clients;  // most recent first

}  // namespace

void client_list_note(const char *address, const char *agent) {
  if (address == nullptr) return;
  std::lock_guard lock(g_mutex);
  auto found = std::find_if(g_clients.begin(), g_clients.end(), [address](const SeenClient &c) {
    return c.address == address;
  });
  SeenClient client;
  if (found != g_clients.end()) client = *found;
  client.address = address;
  if (found != g_clients.end()) g_clients.erase(found);
  if (agent != nullptr) client.agent = agent;
  client.last_seen = apr_time_now();
  ++client.requests;
  g_clients.insert(g_clients.begin(), std::move(client));
  if (g_clients.size() > kKept) g_clients.pop_back();
}

std::vector<SeenClient> client_list() {
  std::lock_guard lock(g_mutex);
  return g_clients;
}
