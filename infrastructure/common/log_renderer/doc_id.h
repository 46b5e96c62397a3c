// Document ids of indexed logs, and the checksum they use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kyv::infra::log {

// Standard reflected CRC-32 (polynomial 0x04C11DB7, initial and final value 0xFFFFFFFF).
uint32_t Crc32(std::string_view data);

// Id of an application or connection log: the upper 32 bits are those of report_timestamp; the
// lower 32 bits are the wrapping sum of adf (bit 31), udf (bit 30), the low 4 bits of vcpu_id at
// bit 26, the low 26 bits of log_id, and the CRC-32 of service_engine.
uint64_t LogDocumentId(uint64_t report_timestamp, bool adf, bool udf, uint32_t vcpu_id,
                       uint32_t log_id, std::string_view service_engine);

// Id of an event log: the upper 32 bits of report_timestamp over the low 32 bits of the standard
// library's string hash of the event's serialized bytes.
uint64_t EventDocumentId(uint64_t report_timestamp, const std::string& serialized_event);

}  // namespace kyv::infra::log
