// MSDB: the library database, medialib and admin, as one include.
//
// See the module headers for the threading and pool rules; in short, every
// call uses the calling thread's own connections and runs inside the
// transaction its caller opened.
#pragma once

#include "MSDBAccounts.h"
#include "MSDBConnection.h"
#include "MSDBDelete.h"
#include "MSDBGraph.h"
#include "MSDBIdPath.h"
#include "MSDBObjectSources.h"
#include "MSDBProps.h"
#include "MSDBSources.h"
#include "MSDBURIProps.h"
