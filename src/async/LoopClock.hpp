#pragma once

#include <chrono>

namespace earshot {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// A loop's own time (a test's virtual clock): the loop reads the time from it and arms no real
// timers, and the loop's background work tells it when it is busy, so moving time can wait for it.
class LoopClock {
 public:
  virtual ~LoopClock() = default;
  virtual TimePoint now() const = 0;
  // From any thread: a background task starts or resumes running; it ends or waits for input.
  virtual void workBusy() = 0;
  virtual void workIdle() = 0;
};

namespace detail {

// The clock of the loop whose background task runs on this thread, if that loop has one.
LoopClock*& backgroundClock();

// Parks the calling background task while it waits for input, so virtual time need not wait for
// it; whoever wakes it marks it busy again first (see AsyncStream).
inline LoopClock* parkBackground() {
  LoopClock* clock = backgroundClock();
  if (clock) clock->workIdle();
  return clock;
}

}  // namespace detail

}  // namespace earshot
