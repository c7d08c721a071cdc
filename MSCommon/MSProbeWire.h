// MSProbeWire: what the scan and its stream prober (the streamprobe program)
// say to each other over their channel, a stream socket: frames of a 4-byte
// little-endian length and that many bytes. A request is a file's path; a
// reply is the probe's status, the log lines the probe wrote and its facts.
// Each side sends a frame only once it has read the other's last one.
//
// Stateless; texts decoded live in the pool passed. Any thread may call.
#pragma once

#include <apr_pools.h>

#include <string>
#include <vector>

#include "MSCodecCommon.h"

// The largest frame either side accepts.
inline constexpr std::uint32_t PROBE_FRAME_MAX = 16u * 1024 * 1024;

struct ProbeLogLine {
  int level;
  std::string module;
  std::string message;
};

// Writes payload as one frame (never raising SIGPIPE). False when the
// channel failed or is closed.
bool probe_frame_write(int channel, const std::string &payload);

enum class FrameRead { ok, closed, timed_out };
// Reads one frame into *payload, waiting at most timeout_ms for the whole
// frame (-1: without limit). closed also covers a failed read and a frame
// longer than PROBE_FRAME_MAX.
FrameRead probe_frame_read(int channel, int timeout_ms, std::string *payload);

// A reply: the probe's status, its log lines in order, then the facts.
void probe_reply_encode(int status, const std::vector<ProbeLogLine> &lines, const StreamFacts &facts,
                        std::string *out);
// False when reply is not a whole reply; *facts is then incomplete.
bool probe_reply_decode(apr_pool_t *pool, const std::string &reply, int *status, std::vector<ProbeLogLine> *lines,
                        StreamFacts *facts);
