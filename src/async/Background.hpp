#pragma once

// Work on threads of its own: `onBackground` as an activity of the loop, `detached` as nobody's.

#include <memory>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>

#include "async/Activity.hpp"
#include "async/LoopClock.hpp"

namespace earshot {

namespace detail {

template <class F>
using BackgroundResult = typename std::conditional_t<std::is_invocable_v<F, std::stop_token>,
                                                     std::invoke_result<F, std::stop_token>,
                                                     std::invoke_result<F>>::type;

}  // namespace detail

// Runs `work` on a new background thread; the activity completes with its value or error, and
// its waiters resume on the loop thread. `work` may take a `std::stop_token`: cancelling the
// activity requests its stop (a stream's `pop(token)` then gives nothing).
template <class F, class T = detail::BackgroundResult<F>>
Activity<T> onBackground(F work, MainLoop& loop) {
  auto state = std::make_shared<detail::OutcomeState<T>>(loop);
  auto core = std::make_shared<detail::ActivityCore>(loop);
  core->stop = std::stop_source();
  // Shared with the thread, which may outlive the loop.
  std::shared_ptr<LoopClock> clock = loop.clock();
  if (clock) clock->workBusy();
  std::thread([state, clock, token = core->stop.get_token(), work = std::move(work)]() mutable {
    detail::backgroundClock() = clock.get();
    auto run = [&]() -> T {
      if constexpr (std::is_invocable_v<F, std::stop_token>)
        return work(token);
      else
        return work();
    };
    try {
      if constexpr (std::is_void_v<T>) {
        run();
        state->resolve({});
      } else {
        state->resolve(run());
      }
    } catch (...) {
      state->fail(std::current_exception());
    }
    detail::backgroundClock() = nullptr;
    if (clock) clock->workIdle();
  }).detach();
  return detail::MakeActivity::make<T>(std::move(state), std::move(core));
}

// Runs `work` on a detached background thread, owned by nobody.
template <class F>
void detached(F work) {
  std::thread(std::move(work)).detach();
}

}  // namespace earshot
