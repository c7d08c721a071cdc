// A scripted HTTP(S) server on 127.0.0.1 for network tests: the python
// script http_test_server.py beside this file, started on a free port for the
// lifetime of the object and killed with it. It serves the files of a folder
// under "/files/" (ranges, Last-Modified, 304) and the scripted answers listed
// in the script (redirects, cookies, digest, chunked, live streams, stalls,
// broken replies, a body trickling at 4 kB/s, "/stats" request and byte counts).
#pragma once

#include <sys/types.h>

#include <string>

class LocalHttpServer {
 public:
  // Serves root; with cert and key, over TLS. Throws std::runtime_error when
  // the server does not come up.
  explicit LocalHttpServer(const std::string &root, const std::string &cert = "", const std::string &key = "");
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer &) = delete;
  LocalHttpServer &operator=(const LocalHttpServer &) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" + path (https for a TLS server).
  std::string url(const std::string &path) const;

  // Writes ca.pem, server.pem and server.key into folder (a test CA and a
  // certificate for 127.0.0.1 signed by it). Throws on failure.
  static void make_certificates(const std::string &folder);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  bool tls_ = false;
};
