// MSStreamProber: stream probes in helper processes (streamprobe), so that
// ffmpeg, the hundred-odd libraries it loads and its working set never enter
// the scan's process, and a crash or a hang inside ffmpeg costs one file its
// stream facts instead of the whole scan.
// A prober is started on first need and kept for the next probe; each probe
// checks one out, so probes on several threads run in as many processes.
// Module state under one lock: any thread may probe. A prober exits when its
// channel closes, so a scan killed outright leaves none behind.
#pragma once

#include <apr_pools.h>

#include "CommonCancel.h"
#include "MSCodecCommon.h"

// As stream_probe (same facts, statuses and log lines), in a prober. A
// prober that dies or does not answer within the time limit is killed
// (ERROR "The stream prober stopped while reading %s, its streams are not
// read") and the file gets the facts of a file that cannot be read (20014);
// the next probe starts another. Without the prober program (ERROR "Could not
// start the stream prober %s, media files are probed in this process", once)
// files are probed here.
int stream_prober_probe(apr_pool_t *pool, const char *path, StreamFacts *facts, CancelCheck cancel = nullptr,
                        void *cancel_context = nullptr);

// Starts a prober now, kept for the next probe, unless one is idle: a scan
// sure to probe lets it load ffmpeg while the scan does other work. Without
// the prober program it does nothing (the first probe then logs that).
void stream_prober_start();

// Ends the probers not in use; the next probe starts one again.
void stream_prober_close_idle();

// The longest wait for one answer, 30 seconds unless set. Internal: the
// tests shorten it. Not thread-safe: set it before probing.
void stream_prober_set_time_limit(int milliseconds);
