#include "infrastructure/common/log_renderer/doc_id.h"

#include <boost/crc.hpp>

#include <functional>

namespace kyv::infra::log {

uint32_t Crc32(std::string_view data) {
  boost::crc_32_type crc;
  crc.process_bytes(data.data(), data.size());
  return crc.checksum();
}

uint64_t LogDocumentId(uint64_t report_timestamp, bool adf, bool udf, uint32_t vcpu_id,
                       uint32_t log_id, std::string_view service_engine) {
  uint32_t low = (adf ? 0x80000000u : 0u) + (udf ? 0x40000000u : 0u);
  low += (vcpu_id & 0xFu) << 26;
  low += log_id & 0x3FFFFFFu;
  low += Crc32(service_engine);
  return (report_timestamp & 0xFFFFFFFF00000000ull) | low;
}

uint64_t EventDocumentId(uint64_t report_timestamp, const std::string& serialized_event) {
  const uint64_t hash = std::hash<std::string>{}(serialized_event);
  return (report_timestamp & 0xFFFFFFFF00000000ull) | (hash & 0xFFFFFFFFull);
}

}  // namespace kyv::infra::log
