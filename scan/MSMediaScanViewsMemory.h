// MSMediaScanViewsMemory: what one thread knows about view containers while
// the database's graph epoch stays: recently used texts (child containers
// by parent and escaped title, values set on containers) in a bounded
// memory, the parents whose child containers were listed, and which titles
// may exist below them.
//
// Plain C++ containers, one memory per thread, no lock. Its size does not
// grow with the library beyond 8 bytes per listed parent and per container
// known to exist.
#pragma once

#include <apr.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Texts kept: at most two generations of this many entries each. A text not
// used during a whole generation is forgotten.
inline constexpr std::size_t kViewMemoryGeneration = 2048;

// A set of 64-bit numbers, 8 bytes each: a sorted part and a short unsorted
// tail merged into it when full.
class NumberSet {
 public:
  void add(std::uint64_t number);
  bool contains(std::uint64_t number) const;
  void clear();

 private:
  std::vector<std::uint64_t> sorted_;
  std::vector<std::uint64_t> tail_;
};

class ViewMemory {
 public:
  // Forgets everything unless epoch is the one the memory was filled under.
  void sync(apr_uint64_t epoch);

  // The text remembered under key, or null; the pointer holds until the
  // next call that changes the memory.
  const std::string *recall(const std::string &key);
  void remember(const std::string &key, std::string_view text);

  // Marks key as existing for may_exist; kept for the whole epoch.
  void mark(std::string_view key);
  // False only when key was never marked in this epoch.
  bool may_exist(std::string_view key) const;

  // The parents (by oid) whose child containers were marked, for the epoch.
  void set_listed(std::uint64_t parent) { listed_.add(parent); }
  bool listed(std::uint64_t parent) const { return listed_.contains(parent); }

 private:
  void rotate_if_full();

  apr_uint64_t epoch_ = 0;
  std::unordered_map<std::string, std::string> current_;
  std::unordered_map<std::string, std::string> previous_;
  // Fingerprints of marked keys: one shared by two keys only makes
  // may_exist answer true, never false.
  NumberSet marked_;
  NumberSet listed_;
};
