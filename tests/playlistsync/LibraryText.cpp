#include "LibraryText.h"

#include <apr_md5.h>

LibraryText &LibraryText::track(int id, const std::string &name, const std::string &location,
                                const std::string &extra) {
  std::string n = std::to_string(id);
  tracks_ += "\t\t<key>" + n + "</key>\n\t\t<dict>\n\t\t\t<key>Track ID</key><integer>" + n +
             "</integer>\n\t\t\t<key>Name</key><string>" + name +
             "</string>\n\t\t\t<key>Kind</key><string>MPEG audio file</string>\n"
             "\t\t\t<key>Date Added</key><date>2009-03-01T18:22:05Z</date>\n"
             "\t\t\t<key>Play Count</key><integer>3</integer>\n";
  if (!location.empty()) tracks_ += "\t\t\t<key>Location</key><string>" + location + "</string>\n";
  tracks_ += extra + "\t\t\t<key>File Folder Count</key><integer>4</integer>\n\t\t</dict>\n";
  return *this;
}

LibraryText &LibraryText::playlist(const std::string &name, const std::vector<int> &ids) {
  playlists_ += "\t\t<dict>\n\t\t\t<key>Name</key><string>" + name + "</string>\n\t\t\t<key>Playlist ID</key><integer>" +
                std::to_string(next_playlist_id_++) +
                "</integer>\n\t\t\t<key>Playlist Persistent ID</key><string>4F2E3C1A0B9D8E7F</string>\n"
                "\t\t\t<key>All Items</key><true/>\n\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
  for (int id : ids)
    playlists_ += "\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>" + std::to_string(id) +
                  "</integer>\n\t\t\t\t</dict>\n";
  playlists_ += "\t\t\t</array>\n\t\t</dict>\n";
  return *this;
}

std::string LibraryText::str() const {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n"
         "\t<key>Major Version</key><integer>1</integer>\n"
         "\t<key>Application Version</key><string>8.1</string>\n"
         "\t<key>Show Content Ratings</key><true/>\n"
         "\t<key>Tracks</key>\n\t<dict>\n" +
         tracks_ + "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n" + playlists_ +
         "\t</array>\n\t<key>Music Folder</key><string>file://localhost/C:/Music/</string>\n</dict>\n</plist>\n";
}

std::string total_time(long milliseconds) {
  return "\t\t\t<key>Total Time</key><integer>" + std::to_string(milliseconds) + "</integer>\n";
}

std::string local_file(const std::string &encoded_path) { return "file://localhost/C:/" + encoded_path; }

std::string md5_hex(const std::string &bytes) {
  unsigned char digest[APR_MD5_DIGESTSIZE];
  apr_md5(digest, bytes.data(), bytes.size());
  std::string hex;
  for (unsigned char byte : digest) {
    constexpr const char *kDigits = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}
