#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include "platform/common/clock.h"
#include "platform/common/common_utils.h"
#include "platform/common/logger.h"
#include "proto/common.pb.h"

namespace {

TEST(CommonUtils, Convertuuid) {
  struct Case {
    const char* kind;
    const char* in;
    const char* out;
  } cases[] = {
      {"sevm", "vm-12-cloud-1", "sevm-12-cloud-1"},
      {"se", "sevm-005056ab-cloud-x", "se-005056ab-cloud-x"},
      {"sevm", "nodash", ""},
      {"sevm", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(convertuuid(c.kind, c.in), c.out);
  }
}

TEST(CommonUtils, StrSplitKeepsEmptyParts) {
  EXPECT_EQ(str_split("host-12-cloud-abc", "-"),
            (std::vector<std::string>{"host", "12", "cloud", "abc"}));
  EXPECT_EQ(str_split("a--b", "-"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(str_split("", "-"), (std::vector<std::string>{""}));
}

TEST(CommonUtils, TimestampsFollowTheProcessClock) {
  kyv::ScopedFakeClock clock;
  uint64_t t0 = get_curr_timestamp();
  clock->Advance(std::chrono::milliseconds(10500));
  EXPECT_EQ(diff_timestamp_in_secs(t0, get_curr_timestamp()), 10);
  EXPECT_EQ(diff_timestamp_in_secs(get_curr_timestamp(), t0), 0);
}

TEST(CommonUtils, PbDiffMessages) {
  NullObj a, b;
  VoidResponse v;
  EXPECT_FALSE(PbDiffMessages(a, b));
  EXPECT_TRUE(PbDiffMessages(a, v));
}

TEST(Clock, FakeTimersFireInDeadlineOrderAndObeyCancel) {
  kyv::ScopedFakeClock clock;
  boost::asio::io_context io;
  std::vector<int> fired;
  auto t2 = clock->Schedule(io, std::chrono::milliseconds(2000), [&] { fired.push_back(2); });
  auto t1 = clock->Schedule(io, std::chrono::milliseconds(1000), [&] { fired.push_back(1); });
  auto t3 = clock->Schedule(io, std::chrono::milliseconds(3000), [&] { fired.push_back(3); });
  clock->Advance(std::chrono::milliseconds(999));
  io.poll();
  EXPECT_TRUE(fired.empty());
  clock->Advance(std::chrono::milliseconds(1001));
  t2->Cancel();  // due and posted, but cancelled before the I/O context ran it
  io.restart();
  io.poll();
  EXPECT_EQ(fired, std::vector<int>{1});
  t3.reset();  // destroying the handle cancels
  clock->Advance(std::chrono::milliseconds(5000));
  io.restart();
  io.poll();
  EXPECT_EQ(fired, std::vector<int>{1});
  EXPECT_EQ(clock->pending_timers(), 0u);
}

TEST(Clock, SleepAdvancesFakeTime) {
  kyv::ScopedFakeClock clock;
  int64_t before = kyv::GetClock().NowSeconds();
  kyv::GetClock().Sleep(std::chrono::seconds(2));
  EXPECT_EQ(kyv::GetClock().NowSeconds(), before + 2);
  std::string t = kyv::GetClock().LocalAsctime();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back(), '\n');
}

TEST(Logger, TraceGate) {
  Logger* l = Logger::GetLogger(CORVEL_DEBUG);
  EXPECT_EQ(l, Logger::GetLogger(CORVEL_DEBUG));
  l->flags_ = Logger::kTraceFlag;
  l->trace_level_ = TRACE_LEVEL_DEBUG_DETAIL;
  FLAGS_v = 2;
  EXPECT_TRUE(l->TraceOn(TRACE_LEVEL_DEBUG_DETAIL));
  FLAGS_v = 1;
  EXPECT_FALSE(l->TraceOn(TRACE_LEVEL_DEBUG));
  FLAGS_v = 2;
  l->flags_ = Logger::kLogFlag;
  EXPECT_FALSE(l->TraceOn(TRACE_LEVEL_DEBUG));
  l->flags_ = Logger::kTraceFlag;
  l->trace_level_ = TRACE_LEVEL_INFO;
  EXPECT_FALSE(l->TraceOn(TRACE_LEVEL_INFO));
}

}  // namespace
