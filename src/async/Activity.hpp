#pragma once

// Independent activities: `spawn` starts a `Co` on the loop, and an `Activity` is its handle.

#include <coroutine>
#include <functional>
#include <memory>
#include <utility>

#include "async/Completion.hpp"
#include "async/Task.hpp"

namespace earshot {

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
Activity<T> spawn(Co<T> work, MainLoop& loop) {
  auto state = std::make_shared<detail::OutcomeState<T>>(loop);
  auto core = std::make_shared<detail::ActivityCore>(loop);
  detail::Root root = detail::carry<T>(std::move(work), state);
  root.frame.promise().core = core;
  root.frame.promise().loop = &loop;
  loop.adopt(root.frame);
  loop.post([frame = root.frame] { frame.resume(); });
  return detail::MakeActivity::make<T>(std::move(state), std::move(core));
}

}  // namespace earshot
