#include "infrastructure/common/log_renderer/bulk_answer.h"

#include <gtest/gtest.h>

namespace kyv::infra::log {
namespace {

TEST(ReadBulkAnswerTest, CountsItemsByStatus) {
  struct Case {
    const char* body;
    uint32_t accepted;
    bool not_found;
  } cases[] = {
      {R"({"errors":false,"items":[{"index":{"status":201}},{"index":{"status":200}}]})", 2, false},
      {R"({"errors":true,"items":[{"index":{"status":201}},{"index":{"status":201}}]})", 0, false},
      {R"({"errors":false,"items":[{"index":{"status":201}},{"index":{"status":409}}]})", 1, false},
      {R"({"items":[{"index":{"status":201}},{"index":{"status":404}},{"index":{"status":201}}]})",
       1, true},
      {R"({"items":[{"status":409},{"status":201}]})", 1, false},        // status on the item
      {R"({"items":[{"index":{}},{"index":{"status":"x"}},{},5]})", 4, false},  // read as 0
      {R"({"items":[{"index":{"status":-1}},{"index":{"status":500}}]})", 2, false},
      {R"({"errors":"yes","items":[{"index":{"status":201}}]})", 1, false},
      {R"({"took":3})", 0, false},
      {R"({"items":{"index":{"status":201}}})", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const BulkTally t = ReadBulkAnswer(c.body);
    EXPECT_TRUE(t.parsed);
    EXPECT_EQ(t.accepted, c.accepted);
    EXPECT_EQ(t.not_found, c.not_found);
  }
}

TEST(ReadBulkAnswerTest, RefusesAnswersThatAreNotJsonObjects) {
  for (const char* body : {"", "<html>busy</html>", "[1,2]", "{\"items\": [", "\"text\""}) {
    SCOPED_TRACE(body);
    const BulkTally t = ReadBulkAnswer(body);
    EXPECT_FALSE(t.parsed);
    EXPECT_FALSE(t.error.empty());
    EXPECT_EQ(t.accepted, 0u);
  }
}

}  // namespace
}  // namespace kyv::infra::log
