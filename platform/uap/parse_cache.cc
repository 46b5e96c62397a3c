#include "platform/uap/parse_cache.h"

namespace uap_cpp {

bool ParseCache::Lookup(std::string_view key, UserAgent* out) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = index_.find(key);
  if (it == index_.end()) {
    ++misses_;
    return false;
  }
  ++hits_;
  order_.splice(order_.begin(), order_, it->second);
  *out = it->second->second;
  return true;
}

void ParseCache::Insert(std::string_view key, const UserAgent& value) {
  if (capacity_ == 0) return;
  std::lock_guard<std::mutex> lock(mu_);
  auto it = index_.find(key);
  if (it != index_.end()) {
    it->second->second = value;
    order_.splice(order_.begin(), order_, it->second);
    return;
  }
  if (order_.size() >= capacity_) {
    index_.erase(order_.back().first);
    order_.pop_back();
  }
  order_.emplace_front(std::string(key), value);
  index_.emplace(order_.front().first, order_.begin());
}

size_t ParseCache::size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return order_.size();
}

uint64_t ParseCache::hits() const {
  std::lock_guard<std::mutex> lock(mu_);
  return hits_;
}

uint64_t ParseCache::misses() const {
  std::lock_guard<std::mutex> lock(mu_);
  return misses_;
}

}  // namespace uap_cpp
