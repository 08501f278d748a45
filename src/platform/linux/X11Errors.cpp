#include "platform/linux/X11Errors.hpp"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <mutex>

namespace earshot::linux_platform {

namespace {

// The trap being set; Xlib is used from the main thread only.
Display* trapped = nullptr;
int trappedCode = 0;

int onError(Display* display, XErrorEvent* error) {
  if (display == trapped && trappedCode == 0) trappedCode = error->error_code;
  return 0;
}

// Returning hands over to the connection's exit handler.
int onIOError(Display*) {
  return 0;
}

}  // namespace

void quietXErrors() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(onError);
    XSetIOErrorHandler(onIOError);
  });
}

Display* openDisplayQuietly(const char* name) {
  quietXErrors();
  // Xlib prints the server's reason for refusing a connection on standard error.
  int saved = fcntl(2, F_DUPFD_CLOEXEC, 0);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved >= 0 && null >= 0) dup2(null, 2);
  Display* display = XOpenDisplay(name);
  if (saved >= 0 && null >= 0) dup2(saved, 2);
  if (null >= 0) close(null);
  if (saved >= 0) close(saved);
  return display;
}

XErrorTrap::XErrorTrap(Display* display)
    : display_(display), previous_(trapped), previousCode_(trappedCode) {
  quietXErrors();
  XSync(display_, False);  // errors of earlier requests are not ours
  trapped = display_;
  trappedCode = 0;
}

int XErrorTrap::finish() {
  if (!finished_) {
    XSync(display_, False);
    finished_ = true;
  }
  return trappedCode;
}

XErrorTrap::~XErrorTrap() {
  finish();
  trapped = previous_;
  trappedCode = previousCode_;
}

}  // namespace earshot::linux_platform
