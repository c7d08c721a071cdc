// Small iTunes library files for the tests, shaped like the ones iTunes
// writes: a plist whose top-level dict holds "Tracks" keyed by track id and
// "Playlists" as an array of dicts with "Playlist Items".
#pragma once

#include <string>
#include <vector>

class LibraryText {
 public:
  // location goes into the file as given (already URL-encoded); an empty one
  // leaves the key out. extra is more key/value XML inside the track's dict.
  LibraryText &track(int id, const std::string &name, const std::string &location, const std::string &extra = "");
  LibraryText &playlist(const std::string &name, const std::vector<int> &ids);
  std::string str() const;

 private:
  std::string tracks_;
  std::string playlists_;
  int next_playlist_id_ = 1000;
};

// "<key>Total Time</key><integer>ms</integer>"
std::string total_time(long milliseconds);
// A track location as iTunes writes it for a file on drive C:.
std::string local_file(const std::string &encoded_path);

// The MD5 digest of bytes as 32 lower-case digits, as sidecars hold it.
std::string md5_hex(const std::string &bytes);
