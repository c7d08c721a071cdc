// ServerContext: what every request handler of mlserve reads: the library
// handle, the served interfaces, the access rules, the identity of the
// device and the documents made at start-up, and the library's update id.
// Filled by mlserve's start-up before the first request and read-only
// afterwards, except system_update_id (atomic); shared by all threads.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "AccessRules.h"
#include "Interfaces.h"
#include "MSDBConnection.h"

struct Events;
struct FolderWatch;

struct ServerContext {
  MediaLibraryDB *db = nullptr;
  std::vector<ServedInterface> interfaces;
  std::vector<AccessRule> rules;
  bool allow_remote = false;
  std::string uuid;
  std::string server_id;  // the identification string without its CRLF
  std::string friendly_name;
  std::string version;  // the model number of the description
  std::string icon;
  std::string source_protocol_info;
  Events *events = nullptr;
  FolderWatch *folders = nullptr;  // the sources and their refreshes, for the web page
  // Moves on with every change of the library a watcher notices.
  std::atomic<unsigned> system_update_id{0};
};
