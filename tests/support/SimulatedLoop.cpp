#include "support/SimulatedLoop.hpp"

#include <algorithm>

namespace earshot::testing {

bool VirtualClock::waitQuiet(Duration limit) {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, limit, [&] { return busy_ == 0; });
}

bool VirtualClock::quiet() {
  std::lock_guard guard(lock_);
  return busy_ == 0;
}

void VirtualClock::change(int by) {
  {
    std::lock_guard guard(lock_);
    busy_ += by;
  }
  changed_.notify_all();
}

SimulatedLoop::SimulatedLoop()
    : MainLoop(std::make_shared<VirtualClock>()),
      clock_(static_cast<VirtualClock&>(*MainLoop::clock())) {}

void SimulatedLoop::settleBackground(std::chrono::steady_clock::time_point realEnd) {
  poll();
  while (!clock_.quiet()) {
    const auto left = realEnd - std::chrono::steady_clock::now();
    if (left <= Duration{0}) return;
    // Short slices: busy work may need the loop (a posted reply) before it can finish.
    clock_.waitQuiet(std::min<Duration>(left, std::chrono::milliseconds(1)));
    poll();
  }
}

void SimulatedLoop::advance(Duration span) {
  const auto realEnd = std::chrono::steady_clock::now() + backgroundGrace;
  settleBackground(realEnd);
  const TimePoint target = clock_.now() + span;
  while (auto next = nextDeadline()) {
    if (*next > target) break;
    if (*next > clock_.now()) clock_.set(*next);
    poll();
    settleBackground(realEnd);
  }
  clock_.set(target);
  poll();
}

void SimulatedLoop::advanceInSteps(Duration span, Duration step) {
  for (Duration passed{0}; passed < span; passed += step) advance(step);
}

bool settle(MainLoop& loop, const std::function<bool()>& done, Duration limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    loop.runOne(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace earshot::testing
