#include "platform/svc/svc_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

using std::chrono::milliseconds;

class SvcTimerTest : public ::testing::Test {
 protected:
  // Moves the fake clock and runs whatever fell due.
  void Advance(int ms) {
    clock_->Advance(milliseconds(ms));
    io_.restart();
    io_.poll();
  }

  kyv::ScopedFakeClock clock_;
  boost::asio::io_context io_;
  int fired_ = 0;
};

TEST_F(SvcTimerTest, FiresOnceAfterThePeriod) {
  SvcTimer timer(1000);
  timer.Start(io_, [this] { ++fired_; });
  EXPECT_TRUE(timer.armed());
  Advance(999);
  EXPECT_EQ(fired_, 0);
  Advance(1);
  EXPECT_EQ(fired_, 1);
  EXPECT_FALSE(timer.armed());
  Advance(5000);
  EXPECT_EQ(fired_, 1);
}

TEST_F(SvcTimerTest, StopCancelsEvenWhenAlreadyDue) {
  SvcTimer timer(1000);
  timer.Stop();  // idle: harmless
  timer.Start(io_, [this] { ++fired_; });
  clock_->Advance(milliseconds(1000));  // due and posted, not yet run
  timer.Stop();
  io_.poll();
  EXPECT_EQ(fired_, 0);
  EXPECT_FALSE(timer.armed());
  timer.Stop();
}

TEST_F(SvcTimerTest, StartWhileArmedRearms) {
  SvcTimer timer(1000);
  timer.Start(io_, [this] { ++fired_; });
  Advance(600);
  timer.Start(io_, [this] { fired_ += 10; });
  Advance(600);
  EXPECT_EQ(fired_, 0);
  Advance(400);
  EXPECT_EQ(fired_, 10);  // only the second callback, once
}

TEST_F(SvcTimerTest, CallbackMayRearmForAPeriodicTimer) {
  SvcTimer timer(1000);
  std::function<void()> tick = [&] {
    ++fired_;
    timer.Start(io_, tick);
  };
  timer.Start(io_, tick);
  for (int i = 0; i < 3; ++i) Advance(1000);
  EXPECT_EQ(fired_, 3);
  EXPECT_TRUE(timer.armed());
}

TEST_F(SvcTimerTest, DestroyedTimerNeverCallsBack) {
  auto timer = std::make_unique<SvcTimer>(1000);
  timer->Start(io_, [this] { ++fired_; });
  clock_->Advance(milliseconds(1000));
  timer.reset();
  io_.poll();
  EXPECT_EQ(fired_, 0);
}

}  // namespace
