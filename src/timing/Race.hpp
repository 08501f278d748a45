#pragma once

// Race functions: every wait on other asynchronous work is bounded by a deadline. Each call races
// a contender activity against a timer activity, both on the main loop; the first to reach the
// guard resumes the caller, exactly once. Neither side cancels the other. When the caller's own
// activity is cancelled while it waits, the caller resumes at once with the timeout outcome, as if
// the deadline had just passed (the guard is taken then, so neither side resumes it later).

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "async/Co.hpp"

namespace earshot {

// Set by whichever side of one race resolves it first; never reset. Touched only on the loop.
class Once {
 public:
  bool done = false;
};

namespace detail {

template <class U>
Co<void> awaitEnd(Activity<U> task, std::shared_ptr<Once> once, Completion<void> resume) {
  co_await task.completion();
  if (once->done) co_return;
  once->done = true;
  resume.resolve();
}

inline Co<void> awaitDeadline(double within, std::shared_ptr<Once> once, Completion<void> resume) {
  co_await sleep(seconds(within));  // a cancelled sleep counts as the deadline
  if (once->done) co_return;
  once->done = true;
  resume.resolve();
}

template <class T>
Co<void> runOperation(std::function<Co<T>()> operation, std::shared_ptr<Once> once,
                      Completion<std::optional<T>> resume) {
  std::exception_ptr error;
  std::optional<T> value;
  try {
    value.emplace(co_await operation());
  } catch (...) {
    error = std::current_exception();
  }
  if (once->done) co_return;  // a late value is released, a late error dropped
  once->done = true;
  if (error)
    resume.fail(error);
  else
    resume.resolve(std::move(value));
}

template <class T>
Co<void> answerAbsent(double within, std::shared_ptr<Once> once,
                      Completion<std::optional<T>> resume) {
  co_await sleep(seconds(within));
  if (once->done) co_return;
  once->done = true;
  resume.resolve(std::nullopt);
}

inline Co<void> awaitText(Activity<std::string> task, std::shared_ptr<Once> once,
                          Completion<std::string> resume) {
  co_await task.completion();
  std::string text;
  try {
    text = task.result();
  } catch (...) {
  }
  if (once->done) co_return;
  once->done = true;
  resume.resolve(std::move(text));
}

inline Co<void> fallBack(double within, std::function<std::string()> fallback,
                         std::shared_ptr<Once> once, Completion<std::string> resume) {
  co_await sleep(seconds(within));
  if (once->done) co_return;
  once->done = true;  // before the fallback runs, so it sees the state at the deadline
  resume.resolve(fallback());
}

}  // namespace detail

// Waits until `task` has ended or `within` seconds have passed.
template <class U>
Co<void> settled(Activity<U> task, double within) {
  MainLoop& loop = co_await currentLoop();
  auto once = std::make_shared<Once>();
  Completion<void> resume(loop);
  spawn(detail::awaitEnd(task, once, resume), loop);
  spawn(detail::awaitDeadline(within, once, resume), loop);
  co_await resume.completion();
  once->done = true;
}

// Runs `operation` on the loop: its value if it ends in time, its error if it fails in time,
// nothing if the deadline comes first.
template <class T>
Co<std::optional<T>> answered(double within, std::function<Co<T>()> operation) {
  MainLoop& loop = co_await currentLoop();
  auto once = std::make_shared<Once>();
  Completion<std::optional<T>> resume(loop);
  spawn(detail::runOperation<T>(std::move(operation), once, resume), loop);
  spawn(detail::answerAbsent<T>(within, once, resume), loop);
  co_await resume.completion();
  if (!once->done) {  // cut short by cancellation
    once->done = true;
    co_return std::nullopt;
  }
  co_return resume.result();
}

// The text of `task` if it ends in time; otherwise what `fallback` returns at the deadline.
inline Co<std::string> firstOf(Activity<std::string> task, double orAfter,
                               std::function<std::string()> fallback) {
  MainLoop& loop = co_await currentLoop();
  auto once = std::make_shared<Once>();
  Completion<std::string> resume(loop);
  spawn(detail::awaitText(task, once, resume), loop);
  spawn(detail::fallBack(orAfter, fallback, once, resume), loop);
  co_await resume.completion();
  if (!once->done) {  // cut short by cancellation
    once->done = true;
    co_return fallback();
  }
  co_return resume.result();
}

}  // namespace earshot
