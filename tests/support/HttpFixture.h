// A test fixture for code that talks HTTP: a temporary folder that is also the
// current folder (the cookie file lands there), files served from it by a
// LocalHttpServer on 127.0.0.1, a pool and a log capture. For suites that
// link the Common library.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "CommonDownload.h"
#include "LocalHttpServer.h"
#include "LogCapture.h"

class HttpFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char here[4096];
    previous_ = getcwd(here, sizeof here) != nullptr ? here : "/";
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    server_ = std::make_unique<LocalHttpServer>(dir_.path());
  }
  void TearDown() override {
    server_.reset();
    if (chdir(previous_.c_str()) != 0) ADD_FAILURE() << "could not go back to " << previous_;
  }
  std::string url(const std::string &path) const { return server_->url(path); }
  // Writes a file the server serves as "/files/<name>".
  std::string serve(const std::string &name, const std::string &content) {
    write_file(dir_.file(name), content);
    return url("/files/" + name);
  }

  // The requests the server has answered so far (its "/stats" page aside).
  long requests_served() {
    HttpRequest request;
    request.pool = pool_;
    std::string u = url("/stats");
    request.url = u.c_str();
    if (http_request(&request) != 0) return -1;
    return std::stol(std::string(request.body, request.body_length));
  }

  TestPool pool_;
  TempDir dir_;
  LogCapture log_;
  std::unique_ptr<LocalHttpServer> server_;

 private:
  std::string previous_;
};
