#pragma once

// Xlib reports errors through process-wide handlers whose defaults print and end the process. These
// replace them with silent ones and let one connection catch the errors of a run of requests.

typedef struct _XDisplay Display;

namespace earshot::linux_platform {

// Installs the silent handlers once. Errors outside a trap are dropped. A connection whose I/O
// fails calls its own exit handler (XSetIOErrorExitHandler), which must return.
void quietXErrors();

// Opens a connection to `name` (or $DISPLAY when null) without a word on standard error; null when
// the display cannot be reached.
Display* openDisplayQuietly(const char* name);

// Catches the first protocol error on `display` from construction to finish(), which waits for
// every request made meanwhile.
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
