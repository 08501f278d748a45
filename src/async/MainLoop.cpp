#include "async/MainLoop.hpp"

#include <algorithm>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <cmath>
#include <limits>

namespace earshot {

namespace {
std::atomic<MainLoop*> latest{nullptr};
std::atomic<MainLoop::DropObserver> dropObserver{nullptr};
}  // namespace

void MainLoop::observeDroppedErrors(DropObserver observer) {
  dropObserver = observer;
}

void MainLoop::dropError(std::exception_ptr error) noexcept {
  ++dropped_;
  if (auto observer = dropObserver.load()) {
    try {
      observer(error);
    } catch (...) {
    }
  }
}

detail::BackgroundLedger*& detail::currentBackground() {
  thread_local BackgroundLedger* ledger = nullptr;
  return ledger;
}

Duration seconds(double value) {
  if (!(value > 0)) return Duration{0};
  const double nanos = value * 1e9;
  if (nanos >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
    return Duration::max();
  return Duration{static_cast<std::int64_t>(nanos)};
}

struct MainLoop::Watch {
  Watch(asio::io_context& io, int fd, std::function<void()> ready, MainLoop* loop)
      : descriptor(io, fd), ready(std::move(ready)), fd(fd), loop(loop) {}
  ~Watch() { stop(); }
  void stop() {
    if (stopped) return;
    stopped = true;
    asio::error_code ignored;
    descriptor.cancel(ignored);
    descriptor.release();
  }
  void wait() {
    descriptor.async_wait(asio::posix::stream_descriptor::wait_read, [this](asio::error_code ec) {
      if (ec || stopped) return;
      try {
        ready();
      } catch (...) {
        loop->dropError(std::current_exception());
      }
      if (!stopped) wait();
    });
  }
  asio::posix::stream_descriptor descriptor;
  std::function<void()> ready;
  int fd;
  MainLoop* loop;
  bool stopped = false;
};

MainLoop::MainLoop(Time time)
    : time_(time),
      work_(asio::make_work_guard(io_)),
      wake_(io_),
      thread_(std::this_thread::get_id()) {
  latest = this;
}

MainLoop::~MainLoop() {
  life_->end();
  {
    std::lock_guard guard(timersLock_);
    for (auto& [key, entry] : timers_) entry->cancelled = true;
    timers_.clear();
  }
  watches_.clear();
  std::unordered_set<void*> frames;
  {
    std::lock_guard guard(framesLock_);
    frames.swap(frames_);
  }
  for (void* frame : frames) std::coroutine_handle<>::from_address(frame).destroy();
  MainLoop* self = this;
  latest.compare_exchange_strong(self, nullptr);
}

MainLoop& MainLoop::current() {
  return *latest.load();
}

TimePoint MainLoop::now() const {
  if (time_ == Time::simulated) return TimePoint{Duration{simulatedNow_.load()}};
  return std::chrono::steady_clock::now();
}

void MainLoop::post(std::function<void()> work) {
  asio::post(io_, [this, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      dropError(std::current_exception());
    }
  });
}

bool MainLoop::onLoopThread() const {
  return thread_.load() == std::this_thread::get_id();
}

void MainLoop::claimThread() {
  thread_ = std::this_thread::get_id();
}

Timer MainLoop::after(Duration delay, std::function<void()> fire) {
  return schedule(delay, Duration{0}, std::move(fire));
}

Timer MainLoop::every(Duration interval, std::function<void()> fire) {
  return schedule(interval, interval.count() > 0 ? interval : Duration{1}, std::move(fire));
}

Timer MainLoop::schedule(Duration delay, Duration interval, std::function<void()> fire) {
  auto entry = std::make_shared<detail::TimerEntry>();
  const TimePoint base = now();
  entry->deadline = delay >= TimePoint::max() - base ? TimePoint::max() : base + delay;
  entry->interval = interval;
  entry->fire = std::move(fire);
  {
    std::lock_guard guard(timersLock_);
    timers_.emplace(Key{entry->deadline, sequence_++}, entry);
  }
  if (time_ == Time::real) {
    if (onLoopThread())
      arm();
    else
      post([this] { arm(); });
  }
  return Timer(entry);
}

void MainLoop::fireDue() {
  for (;;) {
    std::shared_ptr<detail::TimerEntry> entry;
    {
      std::lock_guard guard(timersLock_);
      auto first = timers_.begin();
      if (first == timers_.end() || first->first.first > now()) return;
      entry = first->second;
      timers_.erase(first);
      if (!entry->cancelled && entry->interval.count() > 0) {
        const TimePoint current = now();
        entry->deadline += entry->interval;
        if (entry->deadline <= current) {
          // Held up past whole ticks: skip them, staying on the grid.
          const auto missed = (current - entry->deadline) / entry->interval + 1;
          entry->deadline += missed * entry->interval;
        }
        timers_.emplace(Key{entry->deadline, sequence_++}, entry);
      }
    }
    if (entry->cancelled) continue;
    if (entry->interval.count() == 0) entry->cancelled = true;  // spent
    try {
      entry->fire();
    } catch (...) {
      dropError(std::current_exception());
    }
  }
}

void MainLoop::arm() {
  TimePoint earliest;
  {
    std::lock_guard guard(timersLock_);
    while (!timers_.empty() && timers_.begin()->second->cancelled) timers_.erase(timers_.begin());
    if (timers_.empty()) return;
    earliest = timers_.begin()->first.first;
  }
  wake_.expires_at(earliest);
  wake_.async_wait([this](asio::error_code ec) {
    if (ec) return;
    fireDue();
    arm();
  });
}

void MainLoop::watchReadable(int fd, std::function<void()> ready) {
  watches_.push_back(std::make_unique<Watch>(io_, fd, std::move(ready), this));
  watches_.back()->wait();
}

void MainLoop::unwatch(int fd) {
  // A stopped watch stays allocated: its own callback may be the caller.
  for (auto& watch : watches_)
    if (watch->fd == fd) watch->stop();
}

void MainLoop::run() {
  claimThread();
  if (io_.stopped()) io_.restart();
  io_.run();
}

void MainLoop::stop() {
  io_.stop();
}

void MainLoop::runUntilIdle() {
  claimThread();
  if (io_.stopped()) io_.restart();
  if (time_ == Time::simulated) fireDue();
  while (io_.poll() > 0) {
    if (time_ == Time::simulated) fireDue();
  }
}

void MainLoop::settleBackground(TimePoint realEnd) {
  runUntilIdle();
  while (!background_->idle()) {
    const auto left = realEnd - std::chrono::steady_clock::now();
    if (left <= Duration{0}) return;
    // Short slices: busy work may need the loop (a posted reply) before it can finish.
    background_->waitIdle(std::min<Duration>(left, std::chrono::milliseconds(1)));
    runUntilIdle();
  }
}

void MainLoop::advance(Duration span) {
  const TimePoint realEnd = std::chrono::steady_clock::now() + backgroundGrace;
  settleBackground(realEnd);
  const std::int64_t target = simulatedNow_.load() + span.count();
  for (;;) {
    std::int64_t next;
    {
      std::lock_guard guard(timersLock_);
      while (!timers_.empty() && timers_.begin()->second->cancelled) timers_.erase(timers_.begin());
      if (timers_.empty()) break;
      next = timers_.begin()->first.first.time_since_epoch().count();
    }
    if (next > target) break;
    if (next > simulatedNow_.load()) simulatedNow_ = next;
    runUntilIdle();
    settleBackground(realEnd);
  }
  simulatedNow_ = target;
  runUntilIdle();
}

bool MainLoop::runUntil(const std::function<bool()>& done, Duration limit) {
  claimThread();
  if (io_.stopped()) io_.restart();
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    if (time_ == Time::simulated) fireDue();
    io_.run_one_for(std::chrono::milliseconds(5));
  }
  return true;
}

void MainLoop::adopt(std::coroutine_handle<> frame) {
  std::lock_guard guard(framesLock_);
  frames_.insert(frame.address());
}

void MainLoop::release(std::coroutine_handle<> frame) {
  std::lock_guard guard(framesLock_);
  frames_.erase(frame.address());
}

}  // namespace earshot
