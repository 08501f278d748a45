#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <cstdint>
#include <exception>
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

// Counts the background tasks of one loop that are busy: running and not parked in a stream
// wait. Shared with the tasks' threads so that a task outliving its loop touches nothing freed.
class BackgroundLedger {
 public:
  void begin() { change(+1); }
  void end() { change(-1); }
  // Waits until no task is busy or `limit` of real time passes; true when none is busy.
  bool waitIdle(Duration limit) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, limit, [&] { return busy_ == 0; });
  }
  bool idle() {
    std::lock_guard guard(lock_);
    return busy_ == 0;
  }

 private:
  void change(int by) {
    {
      std::lock_guard guard(lock_);
      busy_ += by;
    }
    changed_.notify_all();
  }
  std::mutex lock_;
  std::condition_variable changed_;
  int busy_ = 0;
};

// The ledger of the background task running on this thread, if any.
BackgroundLedger*& currentBackground();
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
  // are skipped, never fired in a burst. Virtual time never skips, since `advance` stops at
  // every deadline.
  Timer every(Duration interval, std::function<void()> fire);

  // Calls `ready` on the loop thread whenever `fd` is readable. The descriptor stays the caller's.
  void watchReadable(int fd, std::function<void()> ready);
  // Stops calling back for `fd` before its owner closes it. Safe from inside the callback.
  void unwatch(int fd);

  // Serves the loop until stop(). The calling thread becomes the loop thread.
  void run();
  void stop();

  // For tests: run what is ready now; move virtual time forward by `span`, firing due timers in
  // order; or serve the loop in real time until `done` holds or `limit` passes. Before each move
  // of the clock, `advance` lets busy background work of this loop (`onBackground`, not parked in
  // a stream wait) finish, serving the loop meanwhile, for at most `backgroundGrace` of real time
  // per call, so work that takes microseconds in real life beats a virtual deadline.
  void runUntilIdle();
  void advance(Duration span);
  static constexpr Duration backgroundGrace = std::chrono::seconds(1);
  bool runUntil(const std::function<bool()>& done, Duration limit = std::chrono::seconds(10));

  // Root coroutine frames still suspended when the loop goes are destroyed with it.
  void adopt(std::coroutine_handle<> frame);
  void release(std::coroutine_handle<> frame);

  // Background tasks of this loop report here (see `onBackground`).
  const std::shared_ptr<detail::BackgroundLedger>& background() const { return background_; }

 private:
  using Key = std::pair<TimePoint, std::uint64_t>;
  Timer schedule(Duration delay, Duration interval, std::function<void()> fire);
  void fireDue();
  void arm();
  void claimThread();
  void dropError(std::exception_ptr error) noexcept;
  void settleBackground(TimePoint realEnd);

  Time time_;
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  asio::steady_timer wake_;
  std::atomic<std::thread::id> thread_;
  std::atomic<std::int64_t> simulatedNow_{0};
  std::atomic<std::size_t> dropped_{0};
  std::shared_ptr<detail::LoopLife> life_ = std::make_shared<detail::LoopLife>(this);
  std::shared_ptr<detail::BackgroundLedger> background_ =
      std::make_shared<detail::BackgroundLedger>();

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
