// The bounded memory of view containers. Texts live in two generations: a
// look-up that finds a text in the older one carries it into the current
// one, and a full current generation becomes the older one, dropping the
// texts nobody asked for meanwhile. A scan files item after item into the
// same few containers, which therefore stay; the container of a finished
// folder or album goes. What a parent may hold is kept apart as
// fingerprints, so that forgetting a container's text never makes it look
// missing: the caller asks the database again instead of creating another.
#include "MSMediaScanViewsMemory.h"

#include <algorithm>
#include <functional>

namespace {

constexpr std::size_t kTailLength = 256;

std::uint64_t fingerprint(std::string_view key) { return std::hash<std::string_view>{}(key); }

}  // namespace

void NumberSet::add(std::uint64_t number) {
  tail_.push_back(number);
  if (tail_.size() < kTailLength) return;
  std::sort(tail_.begin(), tail_.end());
  const auto middle = static_cast<std::ptrdiff_t>(sorted_.size());
  sorted_.insert(sorted_.end(), tail_.begin(), tail_.end());
  std::inplace_merge(sorted_.begin(), sorted_.begin() + middle, sorted_.end());
  sorted_.erase(std::unique(sorted_.begin(), sorted_.end()), sorted_.end());
  tail_.clear();
}

bool NumberSet::contains(std::uint64_t number) const {
  return std::binary_search(sorted_.begin(), sorted_.end(), number) ||
         std::find(tail_.begin(), tail_.end(), number) != tail_.end();
}

void NumberSet::clear() {
  sorted_.clear();
  tail_.clear();
}

void ViewMemory::sync(apr_uint64_t epoch) {
  if (epoch == epoch_) return;
  current_.clear();
  previous_.clear();
  marked_.clear();
  listed_.clear();
  epoch_ = epoch;
}

void ViewMemory::rotate_if_full() {
  if (current_.size() < kViewMemoryGeneration) return;
  previous_.swap(current_);
  current_.clear();
}

const std::string *ViewMemory::recall(const std::string &key) {
  auto found = current_.find(key);
  if (found != current_.end()) return &found->second;
  auto older = previous_.find(key);
  if (older == previous_.end()) return nullptr;
  std::string text = std::move(older->second);
  previous_.erase(older);
  rotate_if_full();
  return &(current_[key] = std::move(text));
}

void ViewMemory::remember(const std::string &key, std::string_view text) {
  auto found = current_.find(key);
  if (found != current_.end()) {
    found->second = text;
    return;
  }
  previous_.erase(key);
  rotate_if_full();
  current_.emplace(key, text);
}

void ViewMemory::mark(std::string_view key) { marked_.add(fingerprint(key)); }

bool ViewMemory::may_exist(std::string_view key) const { return marked_.contains(fingerprint(key)); }
