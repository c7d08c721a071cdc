// LibraryWatch: notices a library changed by another process (a sharectl
// run) and moves the server's SystemUpdateID on, eventing SystemUpdateID and
// ContainerUpdateIDs. It polls the library's data version once a second on
// a thread and connection of its own: the version moves with every commit
// of another connection and costs no file read. Which containers changed
// is not known, so ContainerUpdateIDs names the root "0".
#pragma once

#include "ServerContext.h"

struct LibraryWatch;

// Starts the thread. Returns 0 or 20014 ("Could not start the library watch").
int library_watch_start(ServerContext *server, LibraryWatch **out);

// Stops the thread and frees watch; null is ignored.
void library_watch_stop(LibraryWatch *watch);
