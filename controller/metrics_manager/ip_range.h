// Splitting an IPv4 address range into the prefixes that the IP address group table stores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kyv::infra::log {

// An IPv4 prefix; the address in host byte order (10.0.0.1 is 0x0A000001).
struct Ipv4Prefix {
  uint32_t addr;
  int len;
  bool operator==(const Ipv4Prefix& o) const { return addr == o.addr && len == o.len; }
};

// The most prefixes that one range yields; a split stops there.
constexpr size_t kMaxRangePrefixes = 128;

// The prefixes covering the inclusive range [begin, end] (host byte order), in the order the
// group table adds them. Equal ends give the one /32; begin above end gives none. Otherwise the
// range is taken relative to the block of the highest bit in which the ends differ and split by
// find_pow2_range. Blocks never start at relative address 0, so a range that starts on a block
// boundary is covered by smaller prefixes: 10.0.0.0 to 10.0.0.255 gives /25 (at .128), /26,
// /27, /28, /29, /30, /31 (at .2), then .0/32 and .1/32. The longest-prefix match of the table
// depends on this decomposition when groups overlap, so it must not change.
std::vector<Ipv4Prefix> SplitIpRange(uint32_t begin, uint32_t end);

// Splits the relative range [a, b] (each below 2^32) and appends each prefix, moved by
// `offset`, to `out`; stops once `out` holds kMaxRangePrefixes. The largest power-of-two block
// that fits (starting on a multiple of its size, never at 0) comes first, then the split of
// what lies above it, then the split of what lies below it.
void find_pow2_range(uint64_t a, uint64_t b, uint32_t offset, std::vector<Ipv4Prefix>* out);

}  // namespace kyv::infra::log
