#include "infrastructure/common/log_renderer/record_reader.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kyv::infra::log {
namespace {

std::string Prefix(uint32_t n) {
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
          static_cast<char>(n)};
}

TEST(ReadRecordTest, OutcomesAndStreamPositions) {
  struct Case {
    const char* name;
    std::string data;
    uint64_t file_size;  // as measured when the worker was made
    RecordStatus status;
    uint32_t length;
    uint64_t got;
    uint64_t pos_after;  // stream position afterwards
  } cases[] = {
      {"whole record", Prefix(3) + "abcXYZ", 10, RecordStatus::kOk, 3, 3, 7},
      {"empty record", Prefix(0) + "rest", 8, RecordStatus::kOk, 0, 0, 4},
      {"no data", "", 0, RecordStatus::kEnd, 0, 0, 0},
      {"three bytes left", "abc", 3, RecordStatus::kEnd, 0, 0, 0},
      {"record cut short", Prefix(10) + "12345", 9, RecordStatus::kShort, 10, 5, 0},
      {"prefix cut short", "ab", 100, RecordStatus::kShort, 4, 2, 0},
      {"largest record", Prefix(4194303) + std::string(4194303, 'x'), 4194307, RecordStatus::kOk,
       4194303, 4194303, 4194307},
      {"oversized record", Prefix(4194304) + std::string(4194304, 'y') + "tail", 4194312,
       RecordStatus::kTooLarge, 4194304, 0, 4194308},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::istringstream in(c.data);
    std::string scratch = "old";
    const RecordRead r = ReadRecord(in, 0, c.file_size, &scratch);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.pos, 0u);
    EXPECT_EQ(r.length, c.length);
    if (c.status == RecordStatus::kShort) {
      EXPECT_EQ(r.got, c.got);
    }
    if (c.status == RecordStatus::kOk) {
      EXPECT_EQ(scratch, c.data.substr(4, c.length));
    }
    EXPECT_TRUE(in.good());  // a short read leaves the stream usable at the record
    EXPECT_EQ(r.next, c.pos_after);
    EXPECT_EQ(static_cast<uint64_t>(in.tellg()), c.pos_after);
  }
}

TEST(ReadRecordTest, ShortRecordIsReadOnceComplete) {
  std::stringstream file;
  file << Prefix(2) << "ok" << Prefix(5) << "ab";
  std::string scratch;
  ASSERT_EQ(ReadRecord(file, 0, 100, &scratch).status, RecordStatus::kOk);
  const RecordRead cut = ReadRecord(file, 6, 100, &scratch);
  ASSERT_EQ(cut.status, RecordStatus::kShort);
  EXPECT_EQ(cut.pos, 6u);
  file.seekp(0, std::ios::end);
  file << "cde";
  const RecordRead whole = ReadRecord(file, 6, 100, &scratch);
  EXPECT_EQ(whole.status, RecordStatus::kOk);
  EXPECT_EQ(whole.pos, 6u);
  EXPECT_EQ(scratch, "abcde");
}

}  // namespace
}  // namespace kyv::infra::log
