// The share, refresh, unshare, list and account actions of sharectl, each as
// the option loop calls it. Every function returns 0 on success or
// APR_EGENERAL (20014); each prints its own result texts except share_path,
// whose failure text depends on how the path was given.
#pragma once

#include "RunState.h"

// -A/-I/-V/-B/-J/-W, and -S/-D/-K/-X with a URL type: records the URL and,
// when refresh after share is on, fetches and indexes it.
int share_url(RunState &run, const char *url, const char *type);

// -S/-D/-K/-X, and plain arguments: records a file or folder and scans it,
// adding the counts to the run and setting its done flag. Prints nothing.
int share_path(RunState &run, const char *path, int audio, int video, int photo);

int unshare(RunState &run, const char *url);
int list_sources(RunState &run);
int refresh_all(RunState &run);

// -C user:password@domain.
int record_account(RunState &run, const char *account);
