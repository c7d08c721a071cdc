// Reads a generated RSS feed and a generated extended M3U playlist with the
// metafile reader and prints entries per second and the peak memory of the
// process, for two sizes of each, to show that memory does not grow with the
// document. Usage: metafile_bench [FOLDER] (default /tmp); the documents are
// written there and removed afterwards.
#include <apr_general.h>
#include <apr_pools.h>
#include <apr_time.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "CommonMetaFile.h"

namespace {

int count_entry(const MetaFileLevels *levels, MetaFileParser *, void *context) {
  if (levels->list[3] != nullptr) ++*static_cast<long *>(context);
  return 0;
}

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peak_kb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void write_feed(const std::string &path, int entries) {
  FILE *file = std::fopen(path.c_str(), "wb");
  std::fputs("<?xml version=\"1.0\"?>\n<rss version=\"2.0\" xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\">"
             "<channel><title>Generated</title>\n", file);
  for (int i = 0; i < entries; ++i) {
    std::fprintf(file,
                 "<item><title>Episode %d</title><guid>ep-%d</guid><pubDate>Tue, 01 Dec 2026 10:00:00 GMT</pubDate>"
                 "<description>&lt;p&gt;Episode %d of the generated show, with a few words of text.&lt;/p&gt;"
                 "</description><itunes:duration>1800</itunes:duration><itunes:author>Host</itunes:author>"
                 "<enclosure url=\"http://127.0.0.1/media/%d.mp3\" length=\"%d\" type=\"audio/mpeg\"/></item>\n",
                 i, i, i, i, 1000000 + i);
  }
  std::fputs("</channel></rss>\n", file);
  std::fclose(file);
}

void write_playlist(const std::string &path, int lines) {
  FILE *file = std::fopen(path.c_str(), "wb");
  std::fputs("#EXTM3U\n", file);
  for (int i = 0; i < lines / 2; ++i) {
    std::fprintf(file, "#EXTINF:%d,Artist %d - Track %d\n/srv/music/artist %d/track %d.mp3\n", 100 + i % 300, i % 97,
                 i, i % 97, i);
  }
  std::fclose(file);
}

void run(const char *label, const std::string &path, const char *extension, int size) {
  long entries = 0;
  double cpu = cpu_seconds();
  apr_time_t start = apr_time_now();
  int status = metafile_parse(media_type_by_extension(extension, -1), METAFILE_OPTION_ENCLOSURES, path.c_str(),
                              count_entry, &entries, nullptr, nullptr);
  double seconds = static_cast<double>(apr_time_now() - start) / 1e6;
  cpu = cpu_seconds() - cpu;
  std::printf("%-20s %7d  status %d  entries %6ld  wall %5.2f s  CPU %5.2f s  %7.0f entries/CPU s  peak RSS %ld KB\n",
              label, size, status, entries, seconds, cpu, static_cast<double>(entries) / cpu, peak_kb());
  std::remove(path.c_str());
}

}  // namespace

int main(int argc, char **argv) {
  apr_initialize();
  std::string folder = argc > 1 ? argv[1] : "/tmp";
  // Smaller documents first: the peak can only grow, so an equal peak after
  // the larger one means the reader's memory does not follow the document.
  for (int entries : {5000, 50000}) {
    std::string path = folder + "/metafile-bench.rss";
    write_feed(path, entries);
    run("RSS feed, items", path, "rss", entries);
  }
  for (int lines : {10000, 100000}) {
    std::string path = folder + "/metafile-bench.m3u";
    write_playlist(path, lines);
    run("extended M3U, lines", path, "m3u", lines);
  }
  apr_terminate();
  return 0;
}
