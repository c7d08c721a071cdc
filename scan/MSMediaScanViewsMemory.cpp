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

void ViewMemory::sync(apr_uint64_t epoch) {
  if (epoch == epoch_) return;
  current_.clear();
  previous_.clear();
  marked_.clear();
  marked_tail_.clear();
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

void ViewMemory::mark(std::string_view key) {
  marked_tail_.push_back(fingerprint(key));
  if (marked_tail_.size() < kTailLength) return;
  std::sort(marked_tail_.begin(), marked_tail_.end());
  const auto middle = static_cast<std::ptrdiff_t>(marked_.size());
  marked_.insert(marked_.end(), marked_tail_.begin(), marked_tail_.end());
  std::inplace_merge(marked_.begin(), marked_.begin() + middle, marked_.end());
  marked_tail_.clear();
}

bool ViewMemory::may_exist(std::string_view key) const {
  const std::uint64_t wanted = fingerprint(key);
  return std::binary_search(marked_.begin(), marked_.end(), wanted) ||
         std::find(marked_tail_.begin(), marked_tail_.end(), wanted) != marked_tail_.end();
}
