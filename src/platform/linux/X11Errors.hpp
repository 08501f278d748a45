#pragma once

// Xlib reports errors through process-wide handlers whose defaults print and end the process. These
// replace them with silent ones and let one connection catch the errors of a run of requests. Xlib
// also waits for the server without limit; a server that accepts connections but does not answer
// (a stopped one) must count as no server rather than hang the process.

#include <chrono>
#include <cstdint>

typedef struct _XDisplay Display;

namespace earshot::linux_platform {

// How long the X server may take to answer a connection or a run of requests.
inline constexpr std::chrono::milliseconds xPatience{1000};

// Installs the silent handlers once. Errors outside a trap are dropped. SIGPIPE, when still at its
// default, is ignored: a write to a lost server must not end the process.
void quietXErrors();

// Opens a connection to `name` (or $DISPLAY when null) without a word on standard error; null when
// the display cannot be reached, does not answer within `xPatience` or hangs up while being opened.
// While an attempt that was given up on is still unanswered, the display is not tried again.
// Xlib's default on a failed connection is to end the process: a connection opened here is marked
// lost instead (displayLost), and must be closed with closeDisplay.
Display* openDisplayQuietly(const char* name);

// True once the connection's I/O failed or a deadline cut it. Xlib makes no further requests on it,
// and its owner should make no more calls but closeDisplay. Xlib keeps a lost connection locked for
// the thread that saw it fail, so the connection must be closed on that thread.
bool displayLost(Display* display);

// Closes a connection from openDisplayQuietly, lost or not.
void closeDisplay(Display* display);

// Bounds the requests made on `display` while it lives: a server that has not answered them within
// the limit has its connection cut and marked lost, so that Xlib sees a lost server instead of
// waiting for good. One watcher thread, started on first use, keeps every deadline of the process;
// arming and disarming one starts no thread.
class XDeadline {
 public:
  explicit XDeadline(Display* display, std::chrono::milliseconds limit = xPatience);
  ~XDeadline();
  XDeadline(const XDeadline&) = delete;
  XDeadline& operator=(const XDeadline&) = delete;

 private:
  std::uint64_t token_;
};

// Catches the first protocol error on `display` from construction to finish(), which waits for
// every request made meanwhile (each wait bounded like XDeadline's).
class XErrorTrap {
 public:
  explicit XErrorTrap(Display* display);
  ~XErrorTrap();
  XErrorTrap(const XErrorTrap&) = delete;
  XErrorTrap& operator=(const XErrorTrap&) = delete;

  // The first error code caught (such as BadAccess), or 0.
  int finish();

 private:
  Display* display_;
  Display* previous_;
  int previousCode_;
  bool finished_ = false;
};

}  // namespace earshot::linux_platform
