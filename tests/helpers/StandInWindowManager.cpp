// A minimal window manager for tests under Xvfb: it maps what asks to be mapped, keeps the EWMH
// client list, makes a newly mapped window active and honours _NET_ACTIVE_WINDOW requests. It
// prints one line once it manages the screen and runs until the X server goes.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int ignoreError(Display*, XErrorEvent*) {
  return 0;
}

}  // namespace

int main() {
  Display* x = XOpenDisplay(nullptr);
  if (!x) return 1;
  XSetErrorHandler(ignoreError);
  const Window root = DefaultRootWindow(x);
  const Atom clientList = XInternAtom(x, "_NET_CLIENT_LIST", False);
  const Atom activeWindow = XInternAtom(x, "_NET_ACTIVE_WINDOW", False);
  XSelectInput(x, root, SubstructureRedirectMask | SubstructureNotifyMask);
  std::vector<Window> clients;

  auto publish = [&] {
    std::vector<long> items(clients.begin(), clients.end());
    XChangeProperty(x, root, clientList, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(items.data()),
                    static_cast<int>(items.size()));
  };
  auto activate = [&](Window window) {
    long item = static_cast<long>(window);
    XRaiseWindow(x, window);
    XChangeProperty(x, root, activeWindow, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&item), 1);
  };
  auto forget = [&](Window window) {
    auto at = std::find(clients.begin(), clients.end(), window);
    if (at == clients.end()) return;
    clients.erase(at);
    publish();
  };
  publish();
  XSync(x, False);
  std::printf("ready\n");
  std::fflush(stdout);

  for (;;) {
    XEvent event;
    XNextEvent(x, &event);
    switch (event.type) {
      case MapRequest: {
        Window window = event.xmaprequest.window;
        XMapWindow(x, window);
        if (std::find(clients.begin(), clients.end(), window) == clients.end())
          clients.push_back(window);
        publish();
        activate(window);
        break;
      }
      case ConfigureRequest: {
        XWindowChanges changes{};
        changes.x = event.xconfigurerequest.x;
        changes.y = event.xconfigurerequest.y;
        changes.width = event.xconfigurerequest.width;
        changes.height = event.xconfigurerequest.height;
        XConfigureWindow(x, event.xconfigurerequest.window,
                         static_cast<unsigned>(event.xconfigurerequest.value_mask) &
                             (CWX | CWY | CWWidth | CWHeight),
                         &changes);
        break;
      }
      case UnmapNotify:
        forget(event.xunmap.window);
        break;
      case DestroyNotify:
        forget(event.xdestroywindow.window);
        break;
      case ClientMessage:
        if (event.xclient.message_type == activeWindow) activate(event.xclient.window);
        break;
      default:
        break;
    }
    XFlush(x);
  }
}
