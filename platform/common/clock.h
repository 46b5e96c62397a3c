// Time for the whole process, behind one interface so that tests never wait for real.
//
// Everything that reads wall time, sleeps or arms a timer goes through the process clock
// (`kyv::GetClock()`). The real clock reads the system clock and uses asio steady timers; the
// fake clock starts at a chosen time, advances only when told (or when something sleeps on it)
// and fires due timers by posting their callbacks to the I/O context they were armed on.
#pragma once

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace kyv {

// A timer armed on a clock. Destroying the handle cancels the timer; a cancelled timer never
// calls back.
class TimerHandle {
 public:
  virtual ~TimerHandle() = default;
  virtual void Cancel() = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Wall time since the epoch.
  virtual int64_t NowNanos() const = 0;
  int64_t NowSeconds() const { return NowNanos() / 1000000000; }
  // Local time in asctime form, "Fri Dec 11 12:10:03 2026\n" (with the trailing newline).
  std::string LocalAsctime() const;
  // Blocks the caller for `d` (the fake clock advances instead, firing due timers).
  virtual void Sleep(std::chrono::milliseconds d) = 0;
  // Runs `cb` on `io` once, `delay` from now, unless the returned handle is cancelled or destroyed
  // first. The callback never runs inside this call.
  virtual std::unique_ptr<TimerHandle> Schedule(boost::asio::io_context& io,
                                                std::chrono::milliseconds delay,
                                                std::function<void()> cb) = 0;
};

class RealClock : public Clock {
 public:
  int64_t NowNanos() const override;
  void Sleep(std::chrono::milliseconds d) override;
  std::unique_ptr<TimerHandle> Schedule(boost::asio::io_context& io, std::chrono::milliseconds delay,
                                        std::function<void()> cb) override;
};

// Simulated time. Single-threaded, like the I/O context it serves.
class FakeClock : public Clock {
 public:
  explicit FakeClock(int64_t start_nanos = 1700000000LL * 1000000000LL);
  ~FakeClock() override;
  int64_t NowNanos() const override { return now_; }
  // Advances the clock and posts every timer that falls due to its I/O context (in deadline
  // order). The caller then runs the I/O context to execute them.
  void Advance(std::chrono::milliseconds d);
  void Sleep(std::chrono::milliseconds d) override { Advance(d); }
  std::unique_ptr<TimerHandle> Schedule(boost::asio::io_context& io, std::chrono::milliseconds delay,
                                        std::function<void()> cb) override;
  // Number of armed, not yet fired timers.
  size_t pending_timers() const { return timers_.size(); }

 private:
  class Handle;
  struct Entry {
    boost::asio::io_context* io;
    std::function<void()> cb;
    Handle* handle;
    std::shared_ptr<bool> cancelled;  // shared with the handle: a fired-but-not-run timer obeys it
  };
  void Remove(uint64_t id);
  int64_t now_;
  uint64_t next_id_ = 1;
  // (deadline, id) -> entry, so timers with the same deadline fire in the order they were armed.
  std::map<std::pair<int64_t, uint64_t>, Entry> timers_;
  std::map<uint64_t, int64_t> deadline_of_;
};

// The process clock: a RealClock unless a test installed another. SetClock does not take
// ownership; pass nullptr to go back to the real clock.
Clock& GetClock();
void SetClock(Clock* clock);

// Installs a FakeClock as the process clock for the lifetime of the object.
class ScopedFakeClock {
 public:
  explicit ScopedFakeClock(int64_t start_nanos = 1700000000LL * 1000000000LL) : clock_(start_nanos) {
    SetClock(&clock_);
  }
  ~ScopedFakeClock() { SetClock(nullptr); }
  FakeClock& clock() { return clock_; }
  FakeClock* operator->() { return &clock_; }

 private:
  FakeClock clock_;
};

}  // namespace kyv
