#pragma once

// Coroutines bound to the main loop. A `Co<T>` is a lazy coroutine: it runs when awaited by
// another coroutine (as part of that activity) or when `spawn` starts it as an independent
// activity. An `Activity<T>` is the handle of a spawned activity: any number of waiters may await
// its completion or value, and it can be cancelled. Cancellation is cooperative: it sets a flag
// and wakes the activity's pending wait, whatever it is:
//   - `sleep` gives false;
//   - a stream's `next()` gives nothing;
//   - `co_await activity.completion()` (or a Completion's) just returns;
//   - `co_await activity` or `co_await completion` (a value wait) throws `Cancelled`;
//   - the race functions return their timeout outcome at once.
// A wait on something already finished is never cut short: its value is delivered. A wait begun
// after the cancellation ends at once. So cancelled code tests `co_await cancelled()` after a
// completion wait, or lets `Cancelled` end it.

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

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

// Resumes a suspended frame once, by whichever of its wake-ups runs first on the loop.
struct WakeOnce {
  bool resumed = false;
  bool byCancel = false;
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

namespace detail {

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
  explicit Completion(MainLoop& loop = MainLoop::current())
      : state_(std::make_shared<detail::OutcomeState<T>>(loop)) {}

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

namespace detail {
struct MakeActivity;
}

// The handle of an independent activity. Copies share the activity. A handle always refers to an
// activity (there is no empty handle, and a moved-from one still does): an absent activity is a
// `std::optional<Activity<T>>`.
template <class T = void>
class Activity {
 public:
  Activity(const Activity&) = default;
  Activity& operator=(const Activity&) = default;
  // No move operations: a move copies, so no handle is ever left empty.

  bool valid() const { return true; }
  bool finished() const { return state_->finished(); }

  // Asks the activity to stop: sets its flag and wakes its pending wait; for background work,
  // requests its stop token. Any thread.
  void cancel() const {
    core_->stop.request_stop();
    if (core_->loop->onLoopThread())
      core_->cancel();
    else
      core_->life->post([core = core_] { core->cancel(); });
  }

  // Awaiting the handle gives the activity's value, or raises its error; throws `Cancelled` when
  // the awaiting activity is cancelled first.
  auto operator co_await() const { return detail::OutcomeAwaiter<T, true>{state_}; }
  // Awaits the end only: never raises; returns early when the awaiting activity is cancelled.
  auto completion() const { return detail::OutcomeAwaiter<T, false>{state_}; }
  // Runs `done` on the loop thread after the activity ends.
  void onDone(std::function<void()> done) const { state_->whenDone(std::move(done)); }
  // The value of a finished activity (or its error).
  T result() const { return state_->take(); }

 private:
  Activity(std::shared_ptr<detail::OutcomeState<T>> state,
           std::shared_ptr<detail::ActivityCore> core)
      : state_(std::move(state)), core_(std::move(core)) {}
  friend struct detail::MakeActivity;

  std::shared_ptr<detail::OutcomeState<T>> state_;
  std::shared_ptr<detail::ActivityCore> core_;
};

namespace detail {

struct MakeActivity {
  template <class T>
  static Activity<T> make(std::shared_ptr<OutcomeState<T>> state,
                          std::shared_ptr<ActivityCore> core) {
    return Activity<T>(std::move(state), std::move(core));
  }
};

// The frame that carries a spawned activity. It starts suspended, is resumed from the loop, and
// frees itself when done.
struct Root {
  struct promise_type : PromiseBase {
    MainLoop* loop = nullptr;
    Root get_return_object() {
      return Root{std::coroutine_handle<promise_type>::from_promise(*this)};
    }
    std::suspend_always initial_suspend() noexcept { return {}; }
    auto final_suspend() noexcept {
      struct Release {
        bool await_ready() noexcept { return false; }
        void await_suspend(std::coroutine_handle<promise_type> frame) noexcept {
          frame.promise().loop->release(frame);
          frame.destroy();
        }
        void await_resume() noexcept {}
      };
      return Release{};
    }
    void return_void() {}
  };
  std::coroutine_handle<promise_type> frame;
};

template <class T>
Root carry(Co<T> work, std::shared_ptr<OutcomeState<T>> state) {
  try {
    if constexpr (std::is_void_v<T>) {
      co_await std::move(work);
      state->resolve({});
    } else {
      state->resolve(co_await std::move(work));
    }
  } catch (...) {
    state->fail(std::current_exception());
  }
}

}  // namespace detail

// Starts `work` as an independent activity bound to `loop`. It begins on the loop thread after
// the work already posted there, in the order of spawning.
template <class T>
Activity<T> spawn(Co<T> work, MainLoop& loop = MainLoop::current()) {
  auto state = std::make_shared<detail::OutcomeState<T>>(loop);
  auto core = std::make_shared<detail::ActivityCore>(loop);
  detail::Root root = detail::carry<T>(std::move(work), state);
  root.frame.promise().core = core;
  root.frame.promise().loop = &loop;
  loop.adopt(root.frame);
  loop.post([frame = root.frame] { frame.resume(); });
  return detail::MakeActivity::make<T>(std::move(state), std::move(core));
}

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

namespace detail {

template <class F>
using BackgroundResult = typename std::conditional_t<std::is_invocable_v<F, std::stop_token>,
                                                     std::invoke_result<F, std::stop_token>,
                                                     std::invoke_result<F>>::type;

// Parks the calling background task while it waits for input, so virtual time need not wait for
// it; whoever wakes it marks it busy again first (see AsyncStream).
inline BackgroundLedger* parkBackground() {
  BackgroundLedger* ledger = currentBackground();
  if (ledger) ledger->end();
  return ledger;
}

}  // namespace detail

// Runs `work` on a new background thread; the activity completes with its value or error, and
// its waiters resume on the loop thread. `work` may take a `std::stop_token`: cancelling the
// activity requests its stop (a stream's `pop(token)` then gives nothing).
template <class F, class T = detail::BackgroundResult<F>>
Activity<T> onBackground(F work, MainLoop& loop = MainLoop::current()) {
  auto state = std::make_shared<detail::OutcomeState<T>>(loop);
  auto core = std::make_shared<detail::ActivityCore>(loop);
  core->stop = std::stop_source();
  auto ledger = loop.background();
  ledger->begin();
  std::thread([state, ledger, token = core->stop.get_token(), work = std::move(work)]() mutable {
    detail::currentBackground() = ledger.get();
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
    detail::currentBackground() = nullptr;
    ledger->end();
  }).detach();
  return detail::MakeActivity::make<T>(std::move(state), std::move(core));
}

// Runs `work` on a detached background thread, owned by nobody.
template <class F>
void detached(F work) {
  std::thread(std::move(work)).detach();
}

}  // namespace earshot
