// ClientList: the clients mlserve has answered lately, for the web page: by
// address, with the last User-Agent and the time last seen; the 32 most
// recent are kept. Process-wide, guarded by a mutex; any thread.
#pragma once

#include <apr_time.h>

#include <string>
#include <vector>

struct SeenClient {
  std::string address;
  std::string agent;
  apr_time_t last_seen = 0;
  unsigned requests = 0;
};

// Notes a request of address (agent may be null).
void client_list_note(const char *address, const char *agent);

// The clients, most recent first.
std::vector<SeenClient> client_list();
