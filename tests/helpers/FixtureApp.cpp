// A stand-in application for tests: one top-level window with _NET_WM_PID and the WM_CLASS given
// as its argument. It runs until killed or until the X server goes. It talks on both standard
// streams, so that a launcher that lets it share its host's streams is caught.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  std::fputs("fixture app: started\n", stdout);
  std::fputs("fixture app: a warning\n", stderr);
  std::fflush(nullptr);
  Display* x = XOpenDisplay(nullptr);
  if (!x) return 1;
  char* name = const_cast<char*>(argc > 1 ? argv[1] : "fixture-app");
  Window window = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 120, 80, 0, 0, 0);
  XClassHint hint{name, name};
  XSetClassHint(x, window, &hint);
  XStoreName(x, window, name);
  long pid = getpid();
  XChangeProperty(x, window, XInternAtom(x, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  XMapWindow(x, window);
  XFlush(x);
  for (;;) {
    XEvent event;
    XNextEvent(x, &event);
  }
}
