// A fresh installation folder for one test, made by the mlsetup program as a
// user would make one, inside a temporary folder that is removed afterwards.
#pragma once

#include <string>

#include "LogCapture.h"

class InstallFolder {
 public:
  InstallFolder();  // throws std::runtime_error when mlsetup fails
  const std::string &path() const { return path_; }
  std::string file(const std::string &relative) const { return path_ + "/" + relative; }
  // The folder that holds the installation, for the test's own files.
  const TempDir &scratch() const { return scratch_; }

 private:
  TempDir scratch_;
  std::string path_;
};
