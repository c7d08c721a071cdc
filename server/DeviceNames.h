// DeviceNames: what the devices of the network say of themselves, by address,
// so that a player whose requests carry a generic User-Agent is still known.
// SSDP reports a search's USER-AGENT and CPFN.UPNP.ORG, kept as they come, and
// an ssdp:alive's LOCATION, whose description one thread of this module reads
// for friendlyName, manufacturer and modelName. One process-wide table of at
// most 256 addresses (the least recently heard dropped), guarded by a mutex:
// any thread may report and read; start and stop from one controlling thread.
#pragma once

#include <apr_pools.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "SsdpMessage.h"

// Addresses kept at most, and the bounds of one description fetch.
inline constexpr std::size_t DEVICE_NAMES_MAX = 256;
inline constexpr int DEVICE_FETCH_EVERY_SECONDS = 300;  // per address, at most
inline constexpr long DEVICE_FETCH_MAX_BYTES = 64 * 1024;
inline constexpr int DEVICE_FETCH_TIMEOUT_SECONDS = 3;

// What is known of one address; an empty field was never said.
struct DeviceFacts {
  std::string friendly_name;  // CPFN.UPNP.ORG of a search, or friendlyName of the description
  std::string manufacturer;
  std::string model_name;
  std::string user_agent;  // USER-AGENT of a search
};

// Whether the server may learn from, and fetch from, an address.
using DeviceAllowedFn = bool (*)(void *context, const char *address);

// Starts the fetching thread; user_agent is sent with each fetch. Returns 0,
// or an APR status when the thread cannot start (logged).
int device_names_start(DeviceAllowedFn allowed, void *context, const std::string &user_agent);

// Stops the thread (a fetch under way ends within its time-out) and forgets
// every address. Harmless when not started.
void device_names_stop();

// SsdpSettings::heard: notes what address said. A LOCATION is fetched only
// when it is http, names address itself as its host, and address was not
// fetched from in the last DEVICE_FETCH_EVERY_SECONDS; ignored before start,
// and for an address allowed refuses.
void device_names_heard(const char *address, const SsdpHeard &heard);

// What address said of itself; false when nothing is known of it.
bool device_names_of(const char *address, DeviceFacts *facts);

// Whether location is an http URL whose host is address (dotted IPv4).
bool device_location_of(std::string_view location, std::string_view address);

// Reads the friendlyName, manufacturer and modelName of the root device of a
// description (namespaces allowed; a document with a DTD's entities is
// refused) into *facts. Returns false, *facts untouched, for text that is
// not such a document.
bool device_description_read(apr_pool_t *pool, const char *text, std::size_t length, DeviceFacts *facts);
