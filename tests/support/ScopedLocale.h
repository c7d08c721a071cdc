// Sets LC_ALL for one test, so that the system encoding (read from the
// user's locale) is the one the test expects, and restores it afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class ScopedLocale {
 public:
  explicit ScopedLocale(const char *name) {
    if (const char *old = std::getenv("LC_ALL")) saved_ = old;
    setenv("LC_ALL", name, 1);
  }
  ~ScopedLocale() {
    if (saved_)
      setenv("LC_ALL", saved_->c_str(), 1);
    else
      unsetenv("LC_ALL");
  }
  ScopedLocale(const ScopedLocale &) = delete;
  ScopedLocale &operator=(const ScopedLocale &) = delete;

 private:
  std::optional<std::string> saved_;
};
