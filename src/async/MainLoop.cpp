#include "async/MainLoop.hpp"

#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <cmath>
#include <limits>

namespace earshot {

namespace {
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

LoopClock*& detail::backgroundClock() {
  thread_local LoopClock* clock = nullptr;
  return clock;
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

MainLoop::MainLoop(std::shared_ptr<LoopClock> clock)
    : clock_(std::move(clock)),
      work_(asio::make_work_guard(io_)),
      wake_(io_),
      thread_(std::this_thread::get_id()) {}

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
}

TimePoint MainLoop::now() const {
  if (clock_) return clock_->now();
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
  if (!clock_) {
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

void MainLoop::poll() {
  claimThread();
  if (io_.stopped()) io_.restart();
  // Under a clock of its own nothing arms the real timer: due timers are fired here.
  if (clock_) fireDue();
  while (io_.poll() > 0) {
    if (clock_) fireDue();
  }
}

void MainLoop::runOne(Duration wait) {
  claimThread();
  if (io_.stopped()) io_.restart();
  if (clock_) fireDue();
  io_.run_one_for(wait);
}

std::optional<TimePoint> MainLoop::nextDeadline() {
  std::lock_guard guard(timersLock_);
  while (!timers_.empty() && timers_.begin()->second->cancelled) timers_.erase(timers_.begin());
  if (timers_.empty()) return std::nullopt;
  return timers_.begin()->first.first;
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
