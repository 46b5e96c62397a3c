#include "platform/svc/svc_timer.h"

#include <chrono>
#include <utility>

SvcTimer::SvcTimer(int period_in_ms) : period_ms_(period_in_ms < 0 ? 0 : period_in_ms) {}

SvcTimer::~SvcTimer() { Stop(); }

void SvcTimer::Start(boost::asio::io_context& io, std::function<void()> cb) {
  // Drop the old handle first: a timer that already fell due but has not run yet obeys it.
  Stop();
  // The handle is owned by this timer, so the callback cannot outlive it.
  handle_ = kyv::GetClock().Schedule(io, std::chrono::milliseconds(period_ms_),
                                     [this, cb = std::move(cb)]() mutable { Fire(std::move(cb)); });
}

void SvcTimer::Stop() { handle_.reset(); }

void SvcTimer::Fire(std::function<void()> cb) {
  // Disarm before calling back so that the callback may re-arm, stop or destroy this timer.
  // `cb` is a local from here on: a re-arm cannot destroy the function that is running.
  handle_.reset();
  if (cb) cb();
}
