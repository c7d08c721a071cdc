// Events: GENA eventing of the two services: subscriptions with SIDs and
// timeouts, the initial event and NOTIFY of changed state variables. A
// callback must name the subscriber's own address (anything else is refused
// with 412), so that no one can make the server send requests elsewhere.
// At most EVENTS_MAX_SUBSCRIPTIONS live at once. One thread of its own
// delivers the events in order (each NOTIFY bounded by short timeouts);
// the other functions may be called from any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

inline constexpr unsigned EVENTS_MAX_SUBSCRIPTIONS = 256;
inline constexpr unsigned EVENTS_DEFAULT_TIMEOUT = 1800;  // seconds

struct Events;
using EventVariables = std::vector<std::pair<std::string, std::string>>;

// Starts the delivery thread; initial holds, per service (0 ContentDirectory,
// 1 ConnectionManager), the state variables and their values. Returns 0 or
// 20014 ("Could not start the event thread").
int events_start(const std::vector<EventVariables> &initial, Events **out);

// Stops the thread (events not yet delivered are dropped) and frees events.
void events_stop(Events *events);

// What a SUBSCRIBE or UNSUBSCRIBE asked, and the answer.
struct EventRequest {
  int service;
  const char *client;    // the subscriber's address
  const char *callback;  // CALLBACK header or null
  const char *nt;        // NT header or null
  const char *sid;       // SID header or null
  const char *timeout;   // TIMEOUT header or null
};
struct EventAnswer {
  unsigned status;  // 200, 400, 412 or 503
  std::string sid;
  unsigned timeout;
  const char *refusal;  // why, when status is not 200
};

// A new subscription or a renewal. After a 200 for a new one, call
// events_send_initial with the SID once the answer has been sent.
EventAnswer events_subscribe(Events *events, const EventRequest &request);
// 200, 400 (no SID, or a CALLBACK/NT with it) or 412 (unknown SID).
unsigned events_unsubscribe(Events *events, const EventRequest &request);
void events_send_initial(Events *events, const std::string &sid);

// Sets variables of a service and notifies every subscriber of it.
void events_publish(Events *events, int service, const EventVariables &changed);

// The property set body of a NOTIFY.
std::string events_body(const EventVariables &variables);
