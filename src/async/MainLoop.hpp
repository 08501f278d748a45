#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <coroutine>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "async/LoopClock.hpp"

namespace earshot {

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

class MainLoop;

namespace detail {
// Lets other threads post to a loop that may be gone: what is posted after its end is dropped.
class LoopLife {
 public:
  explicit LoopLife(MainLoop* loop) : loop_(loop) {}
  bool post(std::function<void()> work);
  void end() {
    std::lock_guard guard(lock_);
    loop_ = nullptr;
  }

 private:
  std::mutex lock_;
  MainLoop* loop_;
};
}  // namespace detail

// The main thread's event loop: posted work, timers, watched file descriptors and every coroutine
// bound to the main thread run here, one at a time. Time is the steady clock's, or the loop's own
// clock's when it is given one.
class MainLoop {
 public:
  explicit MainLoop(std::shared_ptr<LoopClock> clock = nullptr);
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  TimePoint now() const;

  // Runs `work` on the loop thread later, in posting order. Callable from any thread. An
  // exception it throws (like one from a timer or a watch callback) is dropped at the loop: the
  // loop keeps serving, counts it and tells the observer, if any.
  void post(std::function<void()> work);
  // How many exceptions the loop has dropped so far.
  std::size_t droppedErrors() const { return dropped_.load(); }
  // Told of every exception any loop of the process drops, on that loop's thread, as it is
  // dropped: tests make each one a failure. Nothing by default.
  using DropObserver = void (*)(std::exception_ptr error);
  static void observeDroppedErrors(DropObserver observer);
  bool onLoopThread() const;
  // For threads that may outlive the loop.
  const std::shared_ptr<detail::LoopLife>& life() const { return life_; }

  Timer after(Duration delay, std::function<void()> fire);
  // A repeating timer fires on the grid start + k * interval. When the loop was held up past
  // several ticks it fires once, late, and goes on at the next grid point after now: missed ticks
  // are skipped, never fired in a burst.
  Timer every(Duration interval, std::function<void()> fire);

  // Calls `ready` on the loop thread whenever `fd` is readable. The descriptor stays the caller's.
  void watchReadable(int fd, std::function<void()> ready);
  // Stops calling back for `fd` before its owner closes it. Safe from inside the callback.
  void unwatch(int fd);

  // Serves the loop until stop(). The calling thread becomes the loop thread.
  void run();
  void stop();
  // Runs what is ready now (posted work, due timers, readable descriptors) without waiting. The
  // calling thread becomes the loop thread.
  void poll();
  // Runs one handler, waiting at most `wait` of real time for one to be ready; under a clock of
  // its own, fires the due timers first. The calling thread becomes the loop thread.
  void runOne(Duration wait);
  // The earliest deadline of the timers still pending.
  std::optional<TimePoint> nextDeadline();

  // Root coroutine frames still suspended when the loop goes are destroyed with it.
  void adopt(std::coroutine_handle<> frame);
  void release(std::coroutine_handle<> frame);

  // The loop's own clock, if it was given one; background tasks report to it.
  const std::shared_ptr<LoopClock>& clock() const { return clock_; }

 private:
  using Key = std::pair<TimePoint, std::uint64_t>;
  Timer schedule(Duration delay, Duration interval, std::function<void()> fire);
  void fireDue();
  void arm();
  void claimThread();
  void dropError(std::exception_ptr error) noexcept;

  std::shared_ptr<LoopClock> clock_;
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  asio::steady_timer wake_;
  std::atomic<std::thread::id> thread_;
  std::atomic<std::size_t> dropped_{0};
  std::shared_ptr<detail::LoopLife> life_ = std::make_shared<detail::LoopLife>(this);

  std::mutex timersLock_;
  std::map<Key, std::shared_ptr<detail::TimerEntry>> timers_;
  std::uint64_t sequence_ = 0;

  struct Watch;
  std::vector<std::unique_ptr<Watch>> watches_;
  std::mutex framesLock_;  // spawn may be called from any thread
  std::unordered_set<void*> frames_;
};

inline bool detail::LoopLife::post(std::function<void()> work) {
  std::lock_guard guard(lock_);
  if (!loop_) return false;
  loop_->post(std::move(work));
  return true;
}

}  // namespace earshot
