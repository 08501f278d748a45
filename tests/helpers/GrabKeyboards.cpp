// Another X client for the tests: takes every keyboard of $DISPLAY for itself (an XInput 2 grab of
// each keyboard device, which the core keyboard's grabs do not stop), says "grabbed" or "refused",
// and holds the grabs until its standard input closes. Keys let go meanwhile reach only this
// client.
//   earshot_grab_keyboards
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <unistd.h>

#include <cstdio>

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 3;
  int opcode, event, error, major = 2, minor = 0;
  if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
      XIQueryVersion(display, &major, &minor) != Success)
    return 4;
  int count = 0, grabbed = 0, refused = 0;
  XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
  for (int d = 0; d < count; ++d) {
    if (devices[d].use != XISlaveKeyboard) continue;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_KeyPress);
    XISetMask(bits, XI_KeyRelease);
    XIEventMask mask{devices[d].deviceid, sizeof bits, bits};
    if (XIGrabDevice(display, devices[d].deviceid, DefaultRootWindow(display), CurrentTime, 0,
                     XIGrabModeAsync, XIGrabModeAsync, False, &mask) == GrabSuccess)
      ++grabbed;
    else
      ++refused;
  }
  XIFreeDeviceInfo(devices);
  XSync(display, False);
  std::printf(grabbed && !refused ? "grabbed\n" : "refused\n");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  XCloseDisplay(display);
  return 0;
}
