#include "platform/linux/X11Errors.hpp"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <csetjmp>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace earshot::linux_platform {

namespace {

// The trap being set; traps are set on the main thread only.
Display* trapped = nullptr;
int trappedCode = 0;

int onError(Display* display, XErrorEvent* error) {
  if (display == trapped && trappedCode == 0) trappedCode = error->error_code;
  return 0;
}

std::mutex lostMutex;
std::set<Display*> lostDisplays;

void markLost(Display* display) {
  std::lock_guard lock(lostMutex);
  lostDisplays.insert(display);
}

// The exit handler of every connection we open; Xlib's own ends the process.
void onLost(Display* display, void*) {
  markLost(display);
}

void ignoreLost(Display*, void*) {}

// Set while this thread is inside XOpenDisplay. Xlib gives a connection its exit handler only once
// XOpenDisplay returns, so a server that hangs up during the handshake would end the process: the
// I/O error handler jumps back out of XOpenDisplay instead.
thread_local std::jmp_buf* openingEscape = nullptr;
thread_local Display* halfOpened = nullptr;

// Connections that failed inside XOpenDisplay. Xlib cannot close a display it has not finished
// opening, so they are kept (their sockets closed).
std::mutex halfOpenedMutex;
std::vector<Display*> abandonedDisplays;

// Returning hands over to the connection's exit handler.
int onIOError(Display* display) {
  if (openingEscape) {
    halfOpened = display;
    std::longjmp(*openingEscape, 1);
  }
  return 0;
}

// Displays whose connection attempt is still unanswered.
std::mutex silentMutex;
std::set<std::string> silentDisplays;

// One connection attempt, which may outlive the caller's patience.
struct Opening {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  Display* display = nullptr;
};

Display* openWithoutStandardError(const char* name) {
  // Xlib prints the server's reason for refusing a connection on standard error.
  int saved = fcntl(2, F_DUPFD_CLOEXEC, 0);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved >= 0 && null >= 0) dup2(null, 2);
  Display* display = nullptr;
  std::jmp_buf escape;
  if (setjmp(escape) == 0) {
    openingEscape = &escape;
    display = XOpenDisplay(name);
    if (display) XSetIOErrorExitHandler(display, onLost, nullptr);
  } else {
    display = nullptr;
    close(ConnectionNumber(halfOpened));
    std::lock_guard lock(halfOpenedMutex);
    abandonedDisplays.push_back(halfOpened);
  }
  openingEscape = nullptr;
  halfOpened = nullptr;
  if (saved >= 0 && null >= 0) dup2(saved, 2);
  if (null >= 0) close(null);
  if (saved >= 0) close(saved);
  return display;
}

}  // namespace

void quietXErrors() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(onError);
    XSetIOErrorHandler(onIOError);
    // Xlib writes to a lost server's socket before it notices the loss, and the write raises
    // SIGPIPE. A disposition someone chose is left alone.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
      signal(SIGPIPE, SIG_IGN);
  });
}

Display* openDisplayQuietly(const char* name) {
  quietXErrors();
  const char* given = name ? name : std::getenv("DISPLAY");
  const std::string key = given ? given : "";
  {
    std::lock_guard lock(silentMutex);
    if (silentDisplays.contains(key)) return nullptr;
  }
  // Xlib waits for the server's greeting without limit, so the connection is made on a thread of
  // its own; one that answers too late is closed there.
  auto opening = std::make_shared<Opening>();
  std::thread([opening, key, name = name ? std::optional<std::string>(name) : std::nullopt] {
    Display* display = openWithoutStandardError(name ? name->c_str() : nullptr);
    std::unique_lock lock(opening->mutex);
    if (opening->abandoned) {
      {
        // Answered at last, or refused: the display may be tried again.
        std::lock_guard silent(silentMutex);
        silentDisplays.erase(key);
      }
      lock.unlock();
      if (display) closeDisplay(display);
      return;
    }
    opening->display = display;
    opening->finished = true;
    opening->done.notify_all();
  }).detach();
  std::unique_lock lock(opening->mutex);
  if (opening->done.wait_for(lock, xPatience, [&] { return opening->finished; }))
    return opening->display;
  opening->abandoned = true;
  std::lock_guard silent(silentMutex);
  silentDisplays.insert(key);
  return nullptr;
}

bool displayLost(Display* display) {
  std::lock_guard lock(lostMutex);
  return lostDisplays.contains(display);
}

void closeDisplay(Display* display) {
  // Closing a lost connection reports the loss again; the address may soon be another display's.
  XSetIOErrorExitHandler(display, ignoreLost, nullptr);
  {
    std::lock_guard lock(lostMutex);
    lostDisplays.erase(display);
  }
  XCloseDisplay(display);
}

namespace {

// The deadlines armed now, and the one thread that cuts those that pass. Runs of X requests come
// many times a second while a key is held; a thread for each would cost more than the requests.
class DeadlineWatcher {
 public:
  static DeadlineWatcher& instance() {
    // Never destroyed: a deadline may be disarmed while the process exits.
    static auto* watcher = new DeadlineWatcher();
    return *watcher;
  }

  std::uint64_t arm(Display* display, std::chrono::milliseconds limit) {
    std::lock_guard lock(mutex_);
    const std::uint64_t token = next_++;
    armed_.emplace(token, Armed{display, ConnectionNumber(display), Clock::now() + limit});
    if (!started_) {
      started_ = true;
      std::thread([this] { watch(); }).detach();
    }
    wake_.notify_one();
    return token;
  }

  void disarm(std::uint64_t token) {
    std::lock_guard lock(mutex_);
    armed_.erase(token);
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Armed {
    Display* display;
    int fd;
    Clock::time_point at;
  };

  DeadlineWatcher() = default;

  void watch() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (armed_.empty()) {
        wake_.wait(lock);
        continue;
      }
      auto first = armed_.begin();
      for (auto it = armed_.begin(); it != armed_.end(); ++it)
        if (it->second.at < first->second.at) first = it;
      if (Clock::now() < first->second.at) {
        // Woken early by a new deadline, which may come first; disarmed ones are dropped by then.
        wake_.wait_until(lock, first->second.at);
        continue;
      }
      // Lost before the cut, so that the owner sees it as soon as Xlib returns. The cut wakes the
      // read Xlib is blocked in. Under the lock: the owner cannot have closed the descriptor yet,
      // since it disarms first.
      markLost(first->second.display);
      ::shutdown(first->second.fd, SHUT_RDWR);
      armed_.erase(first);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::uint64_t, Armed> armed_;
  std::uint64_t next_ = 1;
  bool started_ = false;
};

}  // namespace

XDeadline::XDeadline(Display* display, std::chrono::milliseconds limit)
    : token_(DeadlineWatcher::instance().arm(display, limit)) {}

XDeadline::~XDeadline() {
  DeadlineWatcher::instance().disarm(token_);
}

XErrorTrap::XErrorTrap(Display* display)
    : display_(display), previous_(trapped), previousCode_(trappedCode) {
  quietXErrors();
  if (!displayLost(display_)) {
    XDeadline deadline(display_);
    XSync(display_, False);  // errors of earlier requests are not ours
  }
  trapped = display_;
  trappedCode = 0;
}

int XErrorTrap::finish() {
  if (!finished_) {
    finished_ = true;
    if (!displayLost(display_)) {
      XDeadline deadline(display_);
      XSync(display_, False);
    }
  }
  return trappedCode;
}

XErrorTrap::~XErrorTrap() {
  finish();
  trapped = previous_;
  trappedCode = previousCode_;
}

}  // namespace earshot::linux_platform
