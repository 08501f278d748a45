#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <vector>

#include "async/LoopClock.hpp"
#include "async/Task.hpp"

namespace earshot {

// How a stream holds elements that its reader has not taken yet.
struct Buffering {
  std::size_t limit = 0;  // 0: unbounded
  bool waitForRoom = false;
  static Buffering unbounded() { return {}; }
  // Keeps the newest `count` elements, dropping the oldest.
  static Buffering newest(std::size_t count) { return {count > 0 ? count : 1}; }
  // Holds at most `count` elements: a writer waits for room, so a fast producer cannot outrun its
  // reader. For writers on threads of their own only (never the loop's: its reader may be there).
  static Buffering bounded(std::size_t count) { return {count > 0 ? count : 1, true}; }
};

// An asynchronous stream: any thread writes; one reader takes elements in order, either a
// coroutine on the loop (`co_await next()`) or a thread (`pop()`). After `finish` the reader gets
// what is buffered, then the end. A second reader waiting while one waits is a programming error:
// it throws std::logic_error at once.
template <class T>
class AsyncStream {
  struct State {
    explicit State(Buffering b) : buffering(b) {}
    Buffering buffering;
    std::mutex lock;
    std::condition_variable_any changed;
    std::deque<T> items;
    bool finished = false;
    // The suspended coroutine reader, if any.
    std::coroutine_handle<> waiter;
    std::shared_ptr<detail::LoopLife> waiterLife;
    // A thread blocked in pop(), and the clock it is parked on (a background task's).
    bool threadWaiting = false;
    LoopClock* parked = nullptr;
    // Writers blocked in yield() for room, and the clocks of those that are background tasks.
    int writersWaiting = 0;
    std::vector<LoopClock*> writersParked;

    void checkOneReader() const {
      if (waiter || threadWaiting)
        throw std::logic_error("a stream has one reader; a second one is waiting");
    }
    // The writer marks a parked reader busy before waking it, so virtual time waits for it.
    void unpark() {
      if (auto clock = std::exchange(parked, nullptr)) clock->workBusy();
    }
    // Every waiting writer is marked busy before it is woken; one that finds no room parks again.
    void unparkWriters() {
      for (auto clock : writersParked) clock->workBusy();
      writersParked.clear();
    }
    bool full() const { return buffering.waitForRoom && items.size() >= buffering.limit; }
    // Under the lock. True when a writer waits for the room this made.
    bool takeFront(std::optional<T>& into) {
      into.emplace(std::move(items.front()));
      items.pop_front();
      if (writersWaiting == 0) return false;
      unparkWriters();
      return true;
    }
    // Under `guard`: waits until there is room or the stream has ended.
    void waitForRoom(std::unique_lock<std::mutex>& guard) {
      while (full() && !finished) {
        ++writersWaiting;
        LoopClock* clock = detail::parkBackground();
        if (clock) writersParked.push_back(clock);
        changed.wait(guard);
        --writersWaiting;
        // Woken by nobody (spuriously): still parked, so busy again by its own hand.
        if (auto it = std::find(writersParked.begin(), writersParked.end(), clock);
            clock && it != writersParked.end()) {
          writersParked.erase(it);
          clock->workBusy();
        }
      }
    }
  };

 public:
  explicit AsyncStream(Buffering buffering = Buffering::unbounded())
      : state_(std::make_shared<State>(buffering)) {}

  // Adds an element; false (and dropped) after the end. With bounded buffering, first waits for
  // room or the end.
  bool yield(T item) {
    std::coroutine_handle<> wake;
    std::shared_ptr<detail::LoopLife> life;
    {
      std::unique_lock guard(state_->lock);
      state_->waitForRoom(guard);
      if (state_->finished) return false;
      state_->items.push_back(std::move(item));
      if (state_->buffering.limit > 0 && !state_->buffering.waitForRoom &&
          state_->items.size() > state_->buffering.limit)
        state_->items.pop_front();
      state_->unpark();
      wake = std::exchange(state_->waiter, {});
      life = state_->waiterLife;
    }
    state_->changed.notify_all();
    if (wake) life->post([wake] { wake.resume(); });
    return true;
  }

  // Ends the stream. Later calls do nothing.
  void finish() {
    std::coroutine_handle<> wake;
    std::shared_ptr<detail::LoopLife> life;
    {
      std::lock_guard guard(state_->lock);
      if (state_->finished) return;
      state_->finished = true;
      state_->unpark();
      state_->unparkWriters();
      wake = std::exchange(state_->waiter, {});
      life = state_->waiterLife;
    }
    state_->changed.notify_all();
    if (wake) life->post([wake] { wake.resume(); });
  }

  bool finished() const {
    std::lock_guard guard(state_->lock);
    return state_->finished;
  }

  // Whether a reader (coroutine or thread) is blocked waiting for an element.
  bool readerWaiting() const {
    std::lock_guard guard(state_->lock);
    return state_->waiter || state_->threadWaiting;
  }

  // Whether a writer is blocked waiting for room (bounded buffering only).
  bool writerWaiting() const {
    std::lock_guard guard(state_->lock);
    return state_->writersWaiting > 0;
  }

  // The elements written and not taken yet.
  std::size_t size() const {
    std::lock_guard guard(state_->lock);
    return state_->items.size();
  }

  struct Next {
    std::shared_ptr<State> state;
    std::shared_ptr<detail::ActivityCore> core{};
    bool wasCancelled = false;

    bool await_ready() {
      std::lock_guard guard(state->lock);
      return !state->items.empty() || state->finished;
    }
    template <detail::ActivityPromise P>
    bool await_suspend(std::coroutine_handle<P> frame) {
      core = frame.promise().core;
      std::lock_guard guard(state->lock);
      if (!state->items.empty() || state->finished) return false;
      if (core->cancelled) {
        wasCancelled = true;
        return false;
      }
      state->checkOneReader();
      state->waiter = frame;
      state->waiterLife = core->life;
      core->onCancel = [this, frame] {
        {
          std::lock_guard guard(state->lock);
          if (state->waiter != frame) return;  // a writer already woke it
          state->waiter = {};
        }
        wasCancelled = true;
        core->loop->post([frame] { frame.resume(); });
      };
      return true;
    }
    std::optional<T> await_resume() {
      if (core) core->onCancel = nullptr;
      if (wasCancelled) return std::nullopt;
      std::optional<T> item;
      bool room = false;
      {
        std::lock_guard guard(state->lock);
        if (state->items.empty()) return std::nullopt;
        room = state->takeFront(item);
      }
      if (room) state->changed.notify_all();
      return item;
    }
  };

  // For a coroutine reader: the next element, or nothing at the end or when the reading activity
  // is cancelled.
  Next next() { return Next{state_}; }

  // For a thread reader: blocks until an element or the end.
  std::optional<T> pop() { return pop(std::stop_token{}); }

  // Also gives nothing once `stop` is requested (e.g. by cancelling the onBackground activity
  // that reads).
  std::optional<T> pop(std::stop_token stop) {
    const auto ready = [&] { return !state_->items.empty() || state_->finished; };
    // Registered before locking: it runs at once when stop is already requested.
    std::stop_callback onStop(stop, [state = state_.get()] {
      {
        std::lock_guard guard(state->lock);
        state->unpark();
      }
      state->changed.notify_all();
    });
    std::unique_lock guard(state_->lock);
    if (!ready() && !stop.stop_requested()) {
      state_->checkOneReader();
      state_->threadWaiting = true;
      state_->parked = detail::parkBackground();
      state_->changed.wait(guard, stop, ready);
      state_->threadWaiting = false;
      state_->unpark();  // woken by neither writer nor stop: busy again
    }
    if (state_->items.empty() || stop.stop_requested()) return std::nullopt;
    std::optional<T> item;
    const bool room = state_->takeFront(item);
    guard.unlock();
    if (room) state_->changed.notify_all();
    return item;
  }

  // Never blocks.
  std::optional<T> tryPop() {
    std::optional<T> item;
    bool room = false;
    {
      std::lock_guard guard(state_->lock);
      if (state_->items.empty()) return std::nullopt;
      room = state_->takeFront(item);
    }
    if (room) state_->changed.notify_all();
    return item;
  }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace earshot
