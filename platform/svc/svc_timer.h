// A one-shot timer on the process clock.
#pragma once

#include <boost/asio/io_context.hpp>

#include <functional>
#include <memory>

#include "platform/common/clock.h"

// Runs a callback once, period_ms after Start, on the given I/O context. A periodic user
// re-arms the timer from its callback. Timing goes through kyv::GetClock(), so a fake clock
// drives it in tests. Single-threaded: use it from the thread that runs the I/O context.
class SvcTimer {
 public:
  explicit SvcTimer(int period_in_ms);
  // Cancels a pending expiry; the callback does not run.
  ~SvcTimer();
  SvcTimer(const SvcTimer&) = delete;
  SvcTimer& operator=(const SvcTimer&) = delete;

  // Arms the timer: `cb` runs once on `io` after the period. Starting an armed timer re-arms
  // it (the earlier expiry is cancelled). May be called from the callback itself.
  void Start(boost::asio::io_context& io, std::function<void()> cb);
  // Cancels a pending expiry without calling back; harmless when idle.
  void Stop();

  int period_ms() const { return period_ms_; }
  // True from Start until the callback runs or Stop.
  bool armed() const { return handle_ != nullptr; }

 private:
  void Fire(std::function<void()> cb);

  int period_ms_;
  std::unique_ptr<kyv::TimerHandle> handle_;
};
