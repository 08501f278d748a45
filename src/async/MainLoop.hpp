#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <coroutine>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

namespace earshot {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// A deadline in seconds as a whole number of nanoseconds, truncated toward zero. Negative and
// non-finite deadlines count as zero; too large ones saturate.
Duration seconds(double value);

namespace detail {
struct TimerEntry {
  TimePoint deadline;
  Duration interval{0};  // zero: one-shot
  std::function<void()> fire;
  std::atomic<bool> cancelled{false};
};
}  // namespace detail

// A scheduled one-shot or repeating timer. Cancelling it (from any thread) means its callback will
// not run again.
class Timer {
 public:
  Timer() = default;
  explicit Timer(std::shared_ptr<detail::TimerEntry> entry) : entry_(std::move(entry)) {}
  void cancel() {
    if (entry_) entry_->cancelled = true;
  }
  bool active() const { return entry_ && !entry_->cancelled; }

 private:
  std::shared_ptr<detail::TimerEntry> entry_;
};

// The main thread's event loop: posted work, timers, watched file descriptors and every coroutine
// bound to the main thread run here, one at a time. Time is the steady clock, or virtual time that
// only moves when a test advances it.
class MainLoop {
 public:
  enum class Time { real, simulated };

  explicit MainLoop(Time time = Time::real);
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // The loop made last in this process: the main loop.
  static MainLoop& current();

  asio::io_context& context() { return io_; }
  bool simulated() const { return time_ == Time::simulated; }
  TimePoint now() const;

  // Runs `work` on the loop thread later, in posting order. Callable from any thread.
  void post(std::function<void()> work);
  bool onLoopThread() const;

  Timer after(Duration delay, std::function<void()> fire);
  Timer every(Duration interval, std::function<void()> fire);

  // Calls `ready` on the loop thread whenever `fd` is readable. The descriptor stays the caller's.
  void watchReadable(int fd, std::function<void()> ready);

  // Serves the loop until stop(). The calling thread becomes the loop thread.
  void run();
  void stop();

  // For tests: run what is ready now; move virtual time forward by `span`, firing due timers in
  // order; or serve the loop in real time until `done` holds or `limit` passes.
  void runUntilIdle();
  void advance(Duration span);
  bool runUntil(const std::function<bool()>& done, Duration limit = std::chrono::seconds(10));

  // Root coroutine frames still suspended when the loop goes are destroyed with it.
  void adopt(std::coroutine_handle<> frame);
  void release(std::coroutine_handle<> frame);

 private:
  using Key = std::pair<TimePoint, std::uint64_t>;
  Timer schedule(Duration delay, Duration interval, std::function<void()> fire);
  void fireDue();
  void arm();
  void claimThread();

  Time time_;
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  asio::steady_timer wake_;
  std::atomic<std::thread::id> thread_;
  std::atomic<std::int64_t> simulatedNow_{0};

  std::mutex timersLock_;
  std::map<Key, std::shared_ptr<detail::TimerEntry>> timers_;
  std::uint64_t sequence_ = 0;

  struct Watch;
  std::vector<std::unique_ptr<Watch>> watches_;
  std::mutex framesLock_;  // spawn may be called from any thread
  std::unordered_set<void*> frames_;
};

}  // namespace earshot
