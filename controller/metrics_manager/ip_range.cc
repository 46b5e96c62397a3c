#include "controller/metrics_manager/ip_range.h"

namespace kyv::infra::log {

namespace {

int Log2(uint64_t power_of_two) { return 63 - __builtin_clzll(power_of_two); }

bool Full(const std::vector<Ipv4Prefix>& out) { return out.size() >= kMaxRangePrefixes; }

void Emit(uint64_t relative, int len, uint32_t offset, std::vector<Ipv4Prefix>* out) {
  if (!Full(*out)) out->push_back({static_cast<uint32_t>(relative) + offset, len});
}

}  // namespace

void find_pow2_range(uint64_t a, uint64_t b, uint32_t offset, std::vector<Ipv4Prefix>* out) {
  // The part above each block is split by recursion (at most one level per bit); the part
  // below it by this loop.
  while (!Full(*out)) {
    if (b < a) return;
    if (a == b) {
      Emit(a, 32, offset, out);
      return;
    }
    uint64_t block = uint64_t{1} << Log2(b - a + 1);
    int len = 32 - Log2(block);
    uint64_t start = 0;
    for (;;) {
      if (block == 1) {
        for (uint64_t x = a; x <= b && !Full(*out); ++x) Emit(x, 32, offset, out);
        return;
      }
      start = (a + block - 1) / block * block;
      if (start == 0) start = block;
      if (start + block - 1 <= b) break;
      block >>= 1;
      ++len;
    }
    Emit(start, len, offset, out);
    find_pow2_range(start + block, b, offset, out);
    b = start - 1;  // start >= block > 0
  }
}

std::vector<Ipv4Prefix> SplitIpRange(uint32_t begin, uint32_t end) {
  std::vector<Ipv4Prefix> out;
  if (begin == end) {
    out.push_back({begin, 32});
    return out;
  }
  const int n = 31 - __builtin_clz(begin ^ end);  // highest bit in which the ends differ
  if (n == 31) {
    find_pow2_range(begin, end, 0, &out);
  } else {
    const uint32_t low_mask = (uint32_t{1} << (n + 1)) - 1;
    find_pow2_range(begin & low_mask, end & low_mask, begin & ~low_mask, &out);
  }
  return out;
}

}  // namespace kyv::infra::log
