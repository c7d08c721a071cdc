// inspect_bench: media inspection throughput over a generated mixed folder.
//
// Usage: inspect_bench [FOLDER [COPIES]]. Fills FOLDER (default
// bench/corpus-media) with audio, video and photos made by ffmpeg and
// ImageMagick when it holds no media yet, each original linked COPIES times
// (default 8). Then inspects every file as a scan would: tags and stream probe
// for audio and video, image data for photos. Reports files per second and
// the bytes the process read per file (from /proc/self/io), against the mean
// file size, to show that probing reads headers rather than whole files.
#include <apr_general.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CommonLang.h"
#include "CommonMultimedia.h"
#include "CommonPath.h"
#include "CommonTagLib.h"
#include "MSCodecCommon.h"
#include "MSFFMPEG.h"
#include "MSImage.h"
#include "log4c_pool.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kTone = "-f lavfi -i sine=frequency=440:duration=";
// {file name, command before the output path}
const std::string kOriginals[][2] = {
    {"song.mp3", std::string("ffmpeg ") + kTone + "180 -ac 2 -c:a libmp3lame -b:a 192k"},
    {"song.flac", std::string("ffmpeg ") + kTone + "60 -ac 2 -c:a flac"},
    {"song.m4a", std::string("ffmpeg ") + kTone + "120 -ac 2 -c:a aac"},
    {"song.ogg", std::string("ffmpeg ") + kTone + "60 -ac 2 -c:a libvorbis"},
    {"song.wma", std::string("ffmpeg ") + kTone + "60 -ac 2 -c:a wmav2"},
    {"movie.mp4", "ffmpeg -f lavfi -i testsrc=size=1280x720:rate=25:duration=60 " +
                      std::string(kTone) + "60 -c:v libx264 -preset ultrafast -b:v 6M -c:a aac"},
    {"movie.mkv", "ffmpeg -f lavfi -i testsrc=size=640x360:rate=25:duration=30 " +
                      std::string(kTone) + "30 -c:v mpeg4 -b:v 3M -c:a ac3"},
    {"movie.avi", "ffmpeg -f lavfi -i testsrc=size=640x360:rate=25:duration=30 " +
                      std::string(kTone) + "30 -c:v mpeg4 -b:v 3M -c:a libmp3lame"},
    {"photo.jpg", "convert -size 4000x3000 plasma:fractal -quality 92"},
    {"photo.png", "convert -size 1600x1200 gradient:red-blue"},
    {"anim.gif", "convert -delay 10 -size 320x240 xc:red xc:blue xc:green -loop 0"},
};

void make_corpus(const fs::path &folder, int copies) {
  fs::create_directories(folder);
  for (const auto &original : kOriginals) {
    fs::path first = folder / ("0-" + original[0]);
    std::string quiet =
        original[1].rfind("ffmpeg", 0) == 0 ? " -hide_banner -loglevel error -nostdin -y" : "";
    std::string command = original[1].substr(0, original[1].find(' ')) + quiet +
                          original[1].substr(original[1].find(' ')) + " '" + first.string() + "'";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "failed: %s\n", command.c_str());
      std::exit(1);
    }
    for (int i = 1; i < copies; ++i) {
      fs::create_hard_link(first, folder / (std::to_string(i) + "-" + original[0]));
    }
  }
}

long long bytes_read_so_far() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

bool is_image(const std::string &path) {
  const char *extension = path_extension(path.c_str(), 0);
  return media_type_by_extension(extension, -1)->media_class == MEDIA_IMAGE;
}

bool inspect(apr_pool_t *pool, const std::string &path) {
  if (is_image(path)) {
    ImageInfoRecord info;
    ExifTime exif;
    return image_info_read(path.c_str(), &info, &exif) == 0;
  }
  const char *extension = path_extension(path.c_str(), 0);
  const char *title, *artist, *comment, *album, *album_artist, *genre, *collection;
  int year, track, length;
  if (is_tag_file(extension)) {
    tags_read(pool, path.c_str(), &title, &artist, &comment, &album, &album_artist, &genre, &year,
              &track, &length, &collection);
  }
  StreamFacts facts;
  return stream_probe(pool, path.c_str(), &facts) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  fs::path folder = argc > 1 ? argv[1] : "bench/corpus-media";
  int copies = argc > 2 ? std::atoi(argv[2]) : 8;
  if (!fs::exists(folder) || fs::is_empty(folder)) make_corpus(folder, copies);

  apr_initialize();
  apr_pool_t *root = pool_create_or_die(nullptr, "Main");
  lang_init(root);
  ffmpeg_init(root);

  // Audio and video first, then photos, so the two kinds are measured apart.
  std::vector<std::string> files[2];
  for (const auto &entry : fs::directory_iterator(folder)) {
    files[is_image(entry.path().string()) ? 1 : 0].push_back(entry.path().string());
  }
  const char *kinds[2] = {"audio/video (tags + probe)", "photos (image data)"};
  int failures = 0;
  for (int kind = 0; kind < 2; ++kind) {
    long long total_size = 0;
    long long before = bytes_read_so_far();
    auto start = std::chrono::steady_clock::now();
    for (const std::string &path : files[kind]) {
      Pool pool(root);
      failures += inspect(pool, path) ? 0 : 1;
      total_size += static_cast<long long>(fs::file_size(path));
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double n = static_cast<double>(files[kind].size());
    double read = static_cast<double>(bytes_read_so_far() - before);
    std::printf(
        "%s: %.0f files in %.2f s, %.1f files/s; read %.0f bytes per file, mean size %.0f "
        "(%.2f%%)\n",
        kinds[kind], n, seconds, n / seconds, read / n, total_size / n,
        100.0 * read / static_cast<double>(total_size));
  }
  std::printf("failures %d\n", failures);
  ffmpeg_term();
  apr_pool_destroy(root);
  apr_terminate();
  return failures == 0 ? 0 : 1;
}
