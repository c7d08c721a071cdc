// Starting and stopping the scripted test server.
#include "LocalHttpServer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

const std::string kScript = std::string(ML_SOURCE_DIR) + "/tests/support/http_test_server.py";

}  // namespace

LocalHttpServer::LocalHttpServer(const std::string &root, const std::string &cert, const std::string &key)
    : tls_(!cert.empty()) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> args = {"python3", kScript, "--root", root};
  if (tls_) args.insert(args.end(), {"--tls", cert, key});
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execvp("python3", argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  FILE *out = fdopen(pipe_fds[0], "r");
  char line[64] = "";
  bool ready = out != nullptr && std::fgets(line, sizeof line, out) != nullptr && std::sscanf(line, "PORT %d", &port_) == 1;
  if (out != nullptr) std::fclose(out);
  if (!ready) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("the test HTTP server did not start");
  }
}

LocalHttpServer::~LocalHttpServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string LocalHttpServer::url(const std::string &path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void LocalHttpServer::make_certificates(const std::string &folder) {
  std::string command = "python3 '" + kScript + "' --make-certs '" + folder + "'";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("could not make test certificates");
}
