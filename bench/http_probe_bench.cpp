// http_probe_bench: stream probing over HTTP against a server on 127.0.0.1.
//
// Usage: http_probe_bench [FOLDER [ROUNDS [BASE]]]. Fills FOLDER (default
// bench/corpus-http) with an mp3, an m4a and an mkv made by ffmpeg when they
// are missing, serves the folder with the scripted test server, and probes
// each file ROUNDS times (default 10) over HTTP and from disk. Reports, per
// probed file, the requests and bytes the server sent (from its "/stats"
// counters), the file's size, and the time per probe over HTTP and from disk,
// to show that probing fetches the headers and first windows, not the files.
// With BASE (say "http://127.0.0.1:8000/" of "python3 -m http.server --bind
// 127.0.0.1" run in FOLDER) it only compares the facts probed from BASE with
// those probed from disk.
#include <apr_general.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "CommonDownload.h"
#include "CommonLang.h"
#include "LocalHttpServer.h"
#include "MSCodecCommon.h"
#include "MSFFMPEG.h"
#include "log4c_pool.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kTone = "-f lavfi -i sine=frequency=440:duration=";
const std::string kOriginals[][2] = {
    {"song.mp3", std::string(kTone) + "180 -ac 2 -c:a libmp3lame -b:a 192k"},
    {"song.m4a", std::string(kTone) + "120 -ac 2 -c:a aac -b:a 128k"},
    {"clip.mkv", std::string("-f lavfi -i testsrc=size=640x360:rate=25:duration=60 ") + kTone +
                     "60 -c:v libx264 -preset ultrafast -c:a libmp3lame -shortest"},
};

bool make(const fs::path &folder, const std::string &name, const std::string &args) {
  fs::path out = folder / name;
  if (fs::exists(out)) return true;
  std::string command = "ffmpeg -nostdin -loglevel error -y " + args + " '" + out.string() + "'";
  return std::system(command.c_str()) == 0;
}

// The facts a scan stores, as one line.
std::string facts(apr_pool_t *pool, const std::string &path) {
  StreamFacts f;
  if (stream_probe(pool, path.c_str(), &f) != 0) return "failed";
  char line[256];
  std::snprintf(line, sizeof line, "%dx%d %d b/s %s, %d Hz %d ch %d b/s %s, %jd us, %jd bytes", f.video.width,
                f.video.height, f.video.bit_rate, f.video_codec ? f.video_codec : "-", f.audio.sample_rate,
                f.audio.channels, f.audio.bit_rate, f.audio_codec ? f.audio_codec : "-",
                static_cast<std::intmax_t>(f.duration), static_cast<std::intmax_t>(f.size));
  return line;
}

int probe(apr_pool_t *pool, const std::string &path) {
  StreamFacts f;
  return stream_probe(pool, path.c_str(), &f);
}

int compare_with(apr_pool_t *pool, const fs::path &folder, const std::string &base) {
  int differing = 0;
  for (const auto &original : kOriginals) {
    std::string local = facts(pool, (folder / original[0]).string());
    std::string remote = facts(pool, base + original[0]);
    std::printf("%s\n  disk: %s\n  http: %s\n", original[0].c_str(), local.c_str(), remote.c_str());
    differing += local != remote;
  }
  return differing == 0 ? 0 : 1;
}

// The server's request and byte counters, reset afterwards.
void server_stats(apr_pool_t *pool, const LocalHttpServer &server, long *requests, long *bytes) {
  HttpRequest request;
  request.pool = pool;
  std::string url = server.url("/stats");
  request.url = url.c_str();
  *requests = *bytes = 0;
  if (http_request(&request) == 0) std::sscanf(request.body, "%ld %ld", requests, bytes);
  std::string reset = server.url("/stats/reset");
  request.url = reset.c_str();
  http_request(&request);
}

double seconds_per_probe(apr_pool_t *pool, const std::string &path, int rounds) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i)
    if (probe(pool, path) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}

}  // namespace

int main(int argc, char **argv) {
  fs::path folder = argc > 1 ? argv[1] : "bench/corpus-http";
  int rounds = argc > 2 ? std::atoi(argv[2]) : 10;
  fs::create_directories(folder);
  for (const auto &original : kOriginals)
    if (!make(folder, original[0], original[1])) return 1;
  apr_initialize();
  apr_pool_t *root = pool_create_or_die(nullptr, "bench");
  ffmpeg_init(root);
  lang_init(root);
  if (argc > 3) return compare_with(root, folder, argv[3]);
  LocalHttpServer server(fs::absolute(folder).string());
  long requests = 0, bytes = 0;
  server_stats(root, server, &requests, &bytes);
  std::printf("| file | size | requests/probe | bytes/probe | ms/probe over HTTP | ms/probe from disk |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const auto &original : kOriginals) {
    std::string url = server.url("/files/" + original[0]);
    std::string path = (folder / original[0]).string();
    double remote = seconds_per_probe(root, url, rounds);
    server_stats(root, server, &requests, &bytes);
    double local = seconds_per_probe(root, path, rounds);
    std::printf("| %s | %ju | %.1f | %ld | %.1f | %.1f |\n", original[0].c_str(),
                static_cast<std::uintmax_t>(fs::file_size(path)), static_cast<double>(requests) / rounds,
                bytes / rounds, remote * 1000, local * 1000);
  }
  ffmpeg_term();
  return 0;
}
