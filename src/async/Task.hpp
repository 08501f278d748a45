#pragma once

// The lazy coroutine: a `Co<T>` runs when awaited, as part of the awaiting activity, or when
// `spawn` starts it as an activity of its own. Every coroutine of an activity shares its core.

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

#include "async/MainLoop.hpp"

namespace earshot {

// Thrown out of a value wait (`co_await activity`, `co_await completion`) that its activity's
// cancellation cut short.
struct Cancelled : std::exception {
  const char* what() const noexcept override { return "cancelled"; }
};

namespace detail {

// What one activity shares with every coroutine that runs as part of it.
struct ActivityCore {
  explicit ActivityCore(MainLoop& loop) : loop(&loop), life(loop.life()) {}
  MainLoop* loop;
  std::shared_ptr<LoopLife> life;
  bool cancelled = false;
  // Set by the activity's pending wait; called on the loop thread when the activity is cancelled.
  std::function<void()> onCancel;
  // Background work only: stopped on cancel, from any thread.
  std::stop_source stop{std::nostopstate};

  void cancel() {
    cancelled = true;
    if (auto wake = std::exchange(onCancel, nullptr)) wake();
  }
};

struct PromiseBase {
  std::shared_ptr<ActivityCore> core;
  std::coroutine_handle<> continuation;
  std::exception_ptr error;

  void unhandled_exception() { error = std::current_exception(); }
};

template <class P>
concept ActivityPromise = std::is_base_of_v<PromiseBase, P>;

struct FinalAwaiter {
  bool await_ready() noexcept { return false; }
  template <class P>
  std::coroutine_handle<> await_suspend(std::coroutine_handle<P> done) noexcept {
    if (auto next = done.promise().continuation) return next;
    return std::noop_coroutine();
  }
  void await_resume() noexcept {}
};

template <class T>
struct ValuePromise : PromiseBase {
  std::optional<T> value;
  template <class U>
  void return_value(U&& v) {
    value.emplace(std::forward<U>(v));
  }
  T take() {
    if (error) std::rethrow_exception(error);
    return std::move(*value);
  }
};

struct VoidPromise : PromiseBase {
  void return_void() {}
  void take() {
    if (error) std::rethrow_exception(error);
  }
};

}  // namespace detail

template <class T = void>
class [[nodiscard]] Co {
 public:
  struct promise_type
      : std::conditional_t<std::is_void_v<T>, detail::VoidPromise, detail::ValuePromise<T>> {
    Co get_return_object() { return Co(std::coroutine_handle<promise_type>::from_promise(*this)); }
    std::suspend_always initial_suspend() noexcept { return {}; }
    detail::FinalAwaiter final_suspend() noexcept { return {}; }
  };

  Co(Co&& other) noexcept : frame_(std::exchange(other.frame_, {})) {}
  Co& operator=(Co&& other) noexcept {
    if (this != &other) {
      if (frame_) frame_.destroy();
      frame_ = std::exchange(other.frame_, {});
    }
    return *this;
  }
  ~Co() {
    if (frame_) frame_.destroy();
  }

  struct Awaiter {
    std::coroutine_handle<promise_type> frame;
    bool await_ready() noexcept { return false; }
    template <detail::ActivityPromise P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept {
      frame.promise().core = parent.promise().core;
      frame.promise().continuation = parent;
      return frame;
    }
    T await_resume() { return frame.promise().take(); }
  };

  // Runs this coroutine as part of the awaiting activity.
  Awaiter operator co_await() && noexcept { return Awaiter{frame_}; }

 private:
  explicit Co(std::coroutine_handle<promise_type> frame) : frame_(frame) {}
  std::coroutine_handle<promise_type> frame_;
};

}  // namespace earshot
