#include "platform/linux/X11Windows.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <mutex>

#include "platform/linux/X11Errors.hpp"

namespace earshot::linux_platform {

namespace {

Display* display(void* handle) {
  return static_cast<Display*>(handle);
}

std::vector<unsigned long> cardinals(Display* x, Window window, const char* name, Atom type) {
  std::vector<unsigned long> values;
  Atom property = XInternAtom(x, name, False);
  if (displayLost(x)) return values;
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(x, window, property, 0, 1 << 16, False, type, &actualType, &format, &count,
                         &after, &data) == Success &&
      data) {
    if (actualType == type && format == 32) {
      // Xlib hands 32-bit items to us as longs.
      const auto* items = reinterpret_cast<const unsigned long*>(data);
      values.assign(items, items + count);
    }
    XFree(data);
  }
  return values;
}

}  // namespace

std::unique_ptr<X11Windows> X11Windows::open() {
  // The process-wide handlers drop errors such as BadWindow from a window that vanished between two
  // requests: that only means "not there".
  Display* x = openDisplayQuietly(nullptr);
  if (!x) return nullptr;
  return std::unique_ptr<X11Windows>(new X11Windows(x));
}

X11Windows::~X11Windows() {
  closeDisplay(display(display_));
}

std::vector<X11Windows::Client> X11Windows::clients() {
  Display* x = display(display_);
  std::vector<Client> out;
  std::vector<unsigned long> windows;
  {
    XDeadline deadline(x);
    windows = cardinals(x, DefaultRootWindow(x), "_NET_CLIENT_LIST", XA_WINDOW);
    if (displayLost(x)) return out;
  }
  for (unsigned long window : windows) {
    // Each window's questions are one run of requests; a server that stops answering ends the list.
    XDeadline deadline(x);
    Client client;
    client.window = window;
    auto pid = cardinals(x, window, "_NET_WM_PID", XA_CARDINAL);
    if (!pid.empty()) client.pid = static_cast<long>(pid.front());
    if (displayLost(x)) break;
    XClassHint hint{nullptr, nullptr};
    if (XGetClassHint(x, window, &hint)) {
      if (hint.res_name) client.instance = hint.res_name;
      if (hint.res_class) client.windowClass = hint.res_class;
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
    if (displayLost(x)) break;
    out.push_back(std::move(client));
  }
  return out;
}

bool X11Windows::activate(unsigned long window) {
  Display* x = display(display_);
  if (displayLost(x)) return false;
  XDeadline deadline(x);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(x, "_NET_ACTIVE_WINDOW", False);
  if (displayLost(x)) return false;
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // on the user's behalf, like a pager: no focus-stealing guard
  event.xclient.data.l[1] = CurrentTime;
  event.xclient.data.l[2] = 0;
  Status sent = XSendEvent(x, DefaultRootWindow(x), False,
                           SubstructureRedirectMask | SubstructureNotifyMask, &event);
  if (sent == 0 || displayLost(x)) return false;
  XSync(x, False);
  return !displayLost(x);
}

}  // namespace earshot::linux_platform
