#pragma once

// Awaiters that ask the loop or the activity: `sleep`, `cancelled`, `currentLoop`.

#include <coroutine>
#include <memory>
#include <utility>

#include "async/MainLoop.hpp"
#include "async/Task.hpp"

namespace earshot {

namespace detail {

struct SleepAwaiter {
  Duration span;
  bool slept = true;
  Timer timer{};
  std::shared_ptr<ActivityCore> core{};

  bool await_ready() const noexcept { return false; }
  template <ActivityPromise P>
  bool await_suspend(std::coroutine_handle<P> frame) {
    core = frame.promise().core;
    if (core->cancelled) {
      slept = false;
      return false;
    }
    auto resumed = std::make_shared<bool>(false);
    timer = core->loop->after(span, [frame, resumed] {
      if (!std::exchange(*resumed, true)) frame.resume();
    });
    core->onCancel = [this, frame, resumed, loop = core->loop] {
      if (*resumed) return;
      timer.cancel();
      slept = false;
      loop->post([frame, resumed] {
        if (!std::exchange(*resumed, true)) frame.resume();
      });
    };
    return true;
  }
  bool await_resume() {
    if (core) core->onCancel = nullptr;
    return slept;
  }
};

struct CancelledCheck {
  bool value = false;
  bool await_ready() const noexcept { return false; }
  template <ActivityPromise P>
  bool await_suspend(std::coroutine_handle<P> frame) noexcept {
    value = frame.promise().core->cancelled;
    return false;
  }
  bool await_resume() const noexcept { return value; }
};

struct LoopQuery {
  MainLoop* loop = nullptr;
  bool await_ready() const noexcept { return false; }
  template <ActivityPromise P>
  bool await_suspend(std::coroutine_handle<P> frame) noexcept {
    loop = frame.promise().core->loop;
    return false;
  }
  MainLoop& await_resume() const noexcept { return *loop; }
};

}  // namespace detail

// Suspends the current activity for `span` of loop time. Gives true when the whole span passed,
// false at once when the activity is (or gets) cancelled.
inline detail::SleepAwaiter sleep(Duration span) {
  return detail::SleepAwaiter{span};
}

// Whether the current activity has been cancelled. Never suspends.
inline detail::CancelledCheck cancelled() {
  return {};
}

// The loop the current activity is bound to. Never suspends.
inline detail::LoopQuery currentLoop() {
  return {};
}

}  // namespace earshot
