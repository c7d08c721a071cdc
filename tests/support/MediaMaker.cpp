#include "MediaMaker.h"

#include <cstdlib>
#include <filesystem>

namespace {

std::string run(const std::string &command, const std::string &path) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0 ? path : std::string();
}

}  // namespace

std::string make_media(const std::string &folder, const std::string &out, const std::string &args) {
  std::string path = folder + "/" + out;
  return run("ffmpeg -hide_banner -loglevel error -nostdin -y " + args + " '" + path + "'", path);
}

std::string make_image(const std::string &folder, const std::string &out, const std::string &args) {
  std::string path = folder + "/" + out;
  return run("convert " + args + " '" + path + "'", path);
}

bool copy_file(const std::string &from, const std::string &to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  return !error;
}
