#pragma once

// Virtual time for tests: a loop whose clock stands still until the test moves it, and the
// helper that serves a loop while other threads finish what the test waits for.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "async/MainLoop.hpp"

namespace earshot::testing {

// Stands still until set; counts the loop's background tasks that are busy (running and not
// parked in a stream wait). Shared with their threads, which may outlive the loop.
class VirtualClock final : public LoopClock {
 public:
  TimePoint now() const override { return TimePoint{Duration{now_.load()}}; }
  void set(TimePoint at) { now_ = at.time_since_epoch().count(); }

  void workBusy() override { change(+1); }
  void workIdle() override { change(-1); }
  // Waits until no task is busy or `limit` of real time passes; true when none is busy.
  bool waitQuiet(Duration limit);
  bool quiet();

 private:
  void change(int by);

  std::atomic<std::int64_t> now_{0};
  std::mutex lock_;
  std::condition_variable changed_;
  int busy_ = 0;
};

// A main loop on virtual time, driven by the test.
class SimulatedLoop : public MainLoop {
 public:
  SimulatedLoop();

  // Runs what is ready now, time standing still.
  void runUntilIdle() { poll(); }
  // Moves virtual time forward by `span`, firing due timers in order. Before each move of the
  // clock it lets busy background work of this loop finish, serving the loop meanwhile, for at
  // most `backgroundGrace` of real time per call, so that work taking microseconds in real life
  // beats a virtual deadline.
  void advance(Duration span);
  // `advance` in steps, so that background work gets its grace at each of them.
  void advanceInSteps(Duration span, Duration step = std::chrono::milliseconds(10));
  static constexpr Duration backgroundGrace = std::chrono::seconds(1);

 private:
  void settleBackground(std::chrono::steady_clock::time_point realEnd);
  VirtualClock& clock_;
};

// Serves `loop` without moving virtual time until `done` holds, waiting real time for the
// threads that make it so; false when `limit` of real time passes first.
bool settle(MainLoop& loop, const std::function<bool()>& done,
            Duration limit = std::chrono::seconds(10));

}  // namespace earshot::testing
