#include "platform/common/clock.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <ctime>
#include <thread>

namespace kyv {

std::string Clock::LocalAsctime() const {
  time_t secs = static_cast<time_t>(NowSeconds());
  struct tm tm_buf;
  localtime_r(&secs, &tm_buf);
  char buf[64];
  // asctime's layout, written with strftime to stay within the buffer.
  strftime(buf, sizeof(buf), "%a %b %e %H:%M:%S %Y\n", &tm_buf);
  return buf;
}

// ---------------------------------------------------------------------------------------------
// RealClock

namespace {

class SteadyTimerHandle : public TimerHandle {
 public:
  SteadyTimerHandle(boost::asio::io_context& io, std::chrono::milliseconds delay,
                    std::function<void()> cb)
      : state_(std::make_shared<State>(io)) {
    state_->timer.expires_after(delay);
    std::weak_ptr<State> weak = state_;
    state_->timer.async_wait([weak, cb = std::move(cb)](const boost::system::error_code& ec) {
      auto st = weak.lock();
      if (ec || !st || st->cancelled) return;
      st->cancelled = true;  // fires once
      cb();
    });
  }
  ~SteadyTimerHandle() override { Cancel(); }
  void Cancel() override {
    state_->cancelled = true;
    state_->timer.cancel();
  }

 private:
  struct State {
    explicit State(boost::asio::io_context& io) : timer(io) {}
    boost::asio::steady_timer timer;
    bool cancelled = false;
  };
  std::shared_ptr<State> state_;
};

}  // namespace

int64_t RealClock::NowNanos() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void RealClock::Sleep(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

std::unique_ptr<TimerHandle> RealClock::Schedule(boost::asio::io_context& io,
                                                 std::chrono::milliseconds delay,
                                                 std::function<void()> cb) {
  return std::make_unique<SteadyTimerHandle>(io, delay, std::move(cb));
}

// ---------------------------------------------------------------------------------------------
// FakeClock

class FakeClock::Handle : public TimerHandle {
 public:
  Handle(FakeClock* clock, uint64_t id)
      : clock_(clock), id_(id), cancelled_(std::make_shared<bool>(false)) {}
  ~Handle() override { Cancel(); }
  void Cancel() override {
    *cancelled_ = true;
    if (clock_) clock_->Remove(id_);
    clock_ = nullptr;
  }
  void Detach() { clock_ = nullptr; }
  const std::shared_ptr<bool>& cancelled() const { return cancelled_; }

 private:
  FakeClock* clock_;
  uint64_t id_;
  std::shared_ptr<bool> cancelled_;
};

FakeClock::FakeClock(int64_t start_nanos) : now_(start_nanos) {}

FakeClock::~FakeClock() {
  for (auto& [key, entry] : timers_) entry.handle->Detach();
}

std::unique_ptr<TimerHandle> FakeClock::Schedule(boost::asio::io_context& io,
                                                 std::chrono::milliseconds delay,
                                                 std::function<void()> cb) {
  uint64_t id = next_id_++;
  int64_t deadline = now_ + std::chrono::duration_cast<std::chrono::nanoseconds>(delay).count();
  auto handle = std::make_unique<Handle>(this, id);
  timers_.emplace(std::make_pair(deadline, id),
                  Entry{&io, std::move(cb), handle.get(), handle->cancelled()});
  deadline_of_[id] = deadline;
  return handle;
}

void FakeClock::Remove(uint64_t id) {
  auto it = deadline_of_.find(id);
  if (it == deadline_of_.end()) return;
  timers_.erase(std::make_pair(it->second, id));
  deadline_of_.erase(it);
}

void FakeClock::Advance(std::chrono::milliseconds d) {
  now_ += std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  while (!timers_.empty() && timers_.begin()->first.first <= now_) {
    auto node = timers_.extract(timers_.begin());
    uint64_t id = node.key().second;
    deadline_of_.erase(id);
    Entry& e = node.mapped();
    e.handle->Detach();
    boost::asio::post(*e.io, [cancelled = e.cancelled, cb = std::move(e.cb)] {
      if (!*cancelled) cb();
    });
  }
}

// ---------------------------------------------------------------------------------------------

namespace {
Clock* g_clock_override = nullptr;
}

Clock& GetClock() {
  static RealClock real;
  return g_clock_override ? *g_clock_override : real;
}

void SetClock(Clock* clock) { g_clock_override = clock; }

}  // namespace kyv
