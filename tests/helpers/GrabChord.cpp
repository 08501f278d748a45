// Another X client for the tests: grabs one chord on the root window of $DISPLAY, says "grabbed" or
// "refused", and holds the grab until its standard input closes.
//   earshot_grab_chord <keysym name> <X modifier mask>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {
int refusal = 0;
int onError(Display*, XErrorEvent* error) {
  refusal = error->error_code;
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 3;
  XSetErrorHandler(onError);
  const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(argv[1]));
  if (!code) return 4;
  const unsigned modifiers = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 0));
  XGrabKey(display, code, modifiers, DefaultRootWindow(display), False, GrabModeAsync,
           GrabModeAsync);
  XSync(display, False);
  std::printf(refusal ? "refused\n" : "grabbed\n");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  XCloseDisplay(display);
  return 0;
}
