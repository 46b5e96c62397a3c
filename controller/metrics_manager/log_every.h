// Rate limiting of repeated warnings: one line in every `logging_freq` occurrences.
#pragma once

#include <cstdint>

#include "controller/metrics_manager/metrics_common.h"

namespace kyv::infra::log {

// Counts the occurrences of one warning. Tick() is true for the first occurrence and then for
// one in every FLAGS_logging_freq (read at each occurrence, so a change applies at once; a
// value below 2 writes every occurrence). Not thread-safe: used under the interpreter lock.
class LogEvery {
 public:
  bool Tick() {
    const int32_t freq = FLAGS_logging_freq;
    const bool write = freq < 2 || count_ % static_cast<uint64_t>(freq) == 0;
    ++count_;
    return write;
  }
  uint64_t count() const { return count_; }

 private:
  uint64_t count_ = 0;
};

}  // namespace kyv::infra::log
