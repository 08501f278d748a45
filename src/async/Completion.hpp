#pragma once

// A one-shot outcome, supplied once from any thread and awaited on the loop by any number of
// coroutines: `Completion` is the public face; activities share the same state.

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "async/Task.hpp"

namespace earshot {

namespace detail {

// Resumes a suspended frame once, by whichever of its wake-ups runs first on the loop.
struct WakeOnce {
  bool resumed = false;
  bool byCancel = false;
};

struct Unit {};
template <class T>
using Stored = std::conditional_t<std::is_void_v<T>, Unit, T>;

// The shared outcome of an activity or of a one-shot completion. Resolved once, from any thread;
// waiters always resume on the loop thread.
template <class T>
class OutcomeState {
 public:
  explicit OutcomeState(MainLoop& loop) : loop_(&loop), life_(loop.life()) {}

  MainLoop& loop() const { return *loop_; }

  bool finished() const {
    std::lock_guard guard(lock_);
    return finished_;
  }

  // Returns false when the outcome was already resolved.
  bool resolve(Stored<T> value) { return settle(std::move(value), nullptr); }
  bool fail(std::exception_ptr error) { return settle(std::nullopt, std::move(error)); }

  // `waiter` runs on the loop thread once resolved (later, never inside this call).
  void whenDone(std::function<void()> waiter) {
    {
      std::lock_guard guard(lock_);
      if (!finished_) {
        waiters_.push_back(std::move(waiter));
        return;
      }
    }
    life_->post(std::move(waiter));
  }

  T take() const {
    std::lock_guard guard(lock_);
    if (error_) std::rethrow_exception(error_);
    if constexpr (!std::is_void_v<T>) return *value_;
  }

 private:
  bool settle(std::optional<Stored<T>> value, std::exception_ptr error) {
    std::vector<std::function<void()>> waiters;
    {
      std::lock_guard guard(lock_);
      if (finished_) return false;
      finished_ = true;
      value_ = std::move(value);
      error_ = std::move(error);
      waiters.swap(waiters_);
    }
    for (auto& waiter : waiters) life_->post(std::move(waiter));
    return true;
  }

  MainLoop* loop_;
  std::shared_ptr<LoopLife> life_;
  mutable std::mutex lock_;
  bool finished_ = false;
  std::optional<Stored<T>> value_;
  std::exception_ptr error_;
  std::vector<std::function<void()>> waiters_;
};

template <class T, bool Throwing>
struct OutcomeAwaiter {
  std::shared_ptr<OutcomeState<T>> state;
  std::shared_ptr<ActivityCore> core{};
  std::shared_ptr<WakeOnce> wake{};
  bool cutShort = false;

  bool await_ready() const { return state->finished(); }
  template <class P>
  bool await_suspend(std::coroutine_handle<P> frame) {
    if constexpr (ActivityPromise<P>) {
      core = frame.promise().core;
      if (core->cancelled) {
        cutShort = true;
        return false;
      }
    }
    wake = std::make_shared<WakeOnce>();
    state->whenDone([frame, wake = wake] {
      if (!std::exchange(wake->resumed, true)) frame.resume();
    });
    if (core)
      core->onCancel = [frame, wake = wake, loop = core->loop] {
        if (wake->resumed) return;
        loop->post([frame, wake] {
          if (std::exchange(wake->resumed, true)) return;
          wake->byCancel = true;
          frame.resume();
        });
      };
    return true;
  }
  auto await_resume() {
    if (core) core->onCancel = nullptr;
    if constexpr (Throwing) {
      if (cutShort || (wake && wake->byCancel)) throw Cancelled();
      return state->take();
    }
  }
};

}  // namespace detail

// A value that one party supplies once (from any thread) and any number of coroutines await.
template <class T = void>
class Completion {
 public:
  explicit Completion(MainLoop& loop) : state_(std::make_shared<detail::OutcomeState<T>>(loop)) {}

  template <class U = T>
  requires(!std::is_void_v<U>) bool resolve(U value) { return state_->resolve(std::move(value)); }
  bool resolve() requires std::is_void_v<T> { return state_->resolve({}); }
  bool fail(std::exception_ptr error) { return state_->fail(std::move(error)); }
  bool finished() const { return state_->finished(); }

  // The value (or error); throws `Cancelled` when the awaiting activity is cancelled first.
  auto operator co_await() const { return detail::OutcomeAwaiter<T, true>{state_}; }
  // Awaits the resolution only: never raises; returns early when the awaiter is cancelled.
  auto completion() const { return detail::OutcomeAwaiter<T, false>{state_}; }
  // The value of a resolved completion (or its error).
  T result() const { return state_->take(); }

 private:
  std::shared_ptr<detail::OutcomeState<T>> state_;
};

}  // namespace earshot
