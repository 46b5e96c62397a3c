#include "infrastructure/common/log_renderer/record_reader.h"

namespace kyv::infra::log {

RecordRead ReadRecord(std::istream& in, uint64_t pos, uint64_t file_size, std::string* scratch) {
  RecordRead r;
  r.pos = pos;
  r.next = pos;
  if (r.pos + 4 > file_size) return r;

  unsigned char prefix[4];
  in.read(reinterpret_cast<char*>(prefix), 4);
  if (in.gcount() != 4) {
    r.status = RecordStatus::kShort;
    r.length = 4;
    r.got = static_cast<uint64_t>(in.gcount());
  } else {
    r.length = (uint32_t{prefix[0]} << 24) | (uint32_t{prefix[1]} << 16) |
               (uint32_t{prefix[2]} << 8) | uint32_t{prefix[3]};
    r.next = pos + 4 + r.length;
    if (r.length > kMaxRecordLength) {
      in.seekg(r.length, std::ios::cur);
      r.status = RecordStatus::kTooLarge;
      return r;
    }
    scratch->resize(r.length);
    in.read(scratch->data(), r.length);
    r.got = static_cast<uint64_t>(in.gcount());
    r.status = r.got == r.length ? RecordStatus::kOk : RecordStatus::kShort;
  }
  if (r.status == RecordStatus::kShort) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(r.pos));
    r.next = r.pos;
  }
  return r;
}

}  // namespace kyv::infra::log
