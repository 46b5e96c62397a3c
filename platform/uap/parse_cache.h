// A bounded cache of parse results keyed by the user-agent text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/uap/user_agent.h"

namespace uap_cpp {

// Least-recently-used cache: holds at most capacity() entries, and inserting into a full
// cache drops the entry that was looked up or inserted longest ago. Every operation is O(1)
// and takes one mutex, so a cache may be shared by threads. Capacity 0 caches nothing.
class ParseCache {
 public:
  explicit ParseCache(size_t capacity) : capacity_(capacity) {}
  ParseCache(const ParseCache&) = delete;
  ParseCache& operator=(const ParseCache&) = delete;

  // Copies the result cached for `key` into *out and marks it most recently used; false (and
  // *out untouched) when the key is not cached.
  bool Lookup(std::string_view key, UserAgent* out);
  // Caches `value` for `key` (replacing a value already cached for it) as most recently used.
  void Insert(std::string_view key, const UserAgent& value);

  size_t size() const;
  size_t capacity() const { return capacity_; }
  uint64_t hits() const;
  uint64_t misses() const;

 private:
  using Entry = std::pair<std::string, UserAgent>;
  using Order = std::list<Entry>;  // front: most recently used

  const size_t capacity_;
  mutable std::mutex mu_;
  Order order_;
  // Keys view the strings held by order_'s nodes, which never move.
  std::unordered_map<std::string_view, Order::iterator> index_;
  uint64_t hits_ = 0;
  uint64_t misses_ = 0;
};

}  // namespace uap_cpp
