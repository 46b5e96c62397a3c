// Reading of one length-prefixed record of a log file.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace kyv::infra::log {

// Records longer than this are skipped unread (one less than 4 MiB).
constexpr uint32_t kMaxRecordLength = 4194303;

enum class RecordStatus {
  kOk,        // the record's bytes are in the scratch buffer
  kEnd,       // fewer than 4 bytes left before the file size: nothing was read
  kTooLarge,  // length above kMaxRecordLength: the stream was moved past the record
  kShort,     // the file ended inside the record (still being written)
};

struct RecordRead {
  RecordStatus status = RecordStatus::kEnd;
  uint64_t pos = 0;      // offset of the record's 4-byte length prefix
  uint64_t next = 0;     // offset where the stream stands afterwards
  uint32_t length = 0;   // the bytes wanted: the record length (4 for a cut length prefix)
  uint64_t got = 0;      // the bytes that arrived (kShort)
};

// Reads the record whose big-endian 4-byte length prefix starts at offset `pos`, where the stream
// stands (the caller keeps the offset, which spares a seek per record), into `scratch` (resized to
// exactly the record length). `file_size` bounds where a prefix may start. kOk and kTooLarge
// leave the stream after the record; kEnd leaves it at `pos`; on kShort its state is cleared and
// it is set back to `pos`, so a later read finds the record once it is complete. The stream must
// be good on entry.
RecordRead ReadRecord(std::istream& in, uint64_t pos, uint64_t file_size, std::string* scratch);

}  // namespace kyv::infra::log
