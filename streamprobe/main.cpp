// streamprobe: the stream prober a scan starts (MSCommon/MSStreamProber),
// one per inspecting thread. It reads requests on its descriptor 3, a file
// path each, probes the file and answers with the probe's status, log lines
// and facts (MSProbeWire), until the channel closes. Its arguments are the
// scan's log levels (RelayLog). Only this process loads ffmpeg.
#include <apr_general.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "CommonLang.h"
#include "CommonSharedLibrary.h"
#include "MLVersion.h"
#include "MSCodecCommon.h"
#include "MSFFMPEG.h"
#include "MSFFMPEGLibrary.h"
#include "MSProbeWire.h"
#include "PlatformAllocator.h"
#include "RelayLog.h"
#include "log4c_pool.h"

namespace {

constexpr int kChannel = 3;
constexpr const char *kModule = "streamprobe";

void serve(apr_pool_t *root) {
  Pool request(root, kModule);
  std::string path, reply;
  while (probe_frame_read(kChannel, -1, &path) == FrameRead::ok) {
    StreamFacts facts;
    const int status = stream_probe(request, path.c_str(), &facts);
    reply.clear();
    probe_reply_encode(status, relay_log_take(), facts, &reply);
    request.clear();
    if (!probe_frame_write(kChannel, reply)) break;
  }
}

}  // namespace

int main(int argc, const char *const *argv) {
  if (argc == 2 && ml_version_option("streamprobe", argv[1])) return 0;
  if (fcntl(kChannel, F_GETFD) < 0) {
    std::fputs("streamprobe: the scan starts this program, with its channel as descriptor 3\n", stderr);
    return 1;
  }
  allocator_fix_thresholds();
  if (apr_app_initialize(&argc, &argv, nullptr) != APR_SUCCESS) return -1;
  relay_log_levels(argc - 1, argv + 1);
  apr_pool_t *root = pool_create_or_die(nullptr, kModule);
  lang_init(root);
  ffmpeg_init(root);
  shared_library_release_after_open();
  // A prober is started for a probe, often before the scan needs it: ffmpeg
  // is loaded now, while the scan still walks, not at the first request.
  ffmpeg_library();
  serve(root);
  ffmpeg_term();
  lang_term();
  apr_pool_destroy(root);
  apr_terminate();
  // Ended without the exit handlers: the libraries' destructors would map
  // back a page or more of each of the 138 libraries ffmpeg brings (10 MiB
  // with the neighbours the kernel maps around them) for a process that is
  // going away.
  _exit(0);
}
