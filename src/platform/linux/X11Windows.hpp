#pragma once

#include <memory>
#include <string>
#include <vector>

namespace earshot::linux_platform {

// The managed top-level windows of the X display, through the window manager's EWMH hints. A
// private connection of its own, so X errors of other parts of the process never meet ours.
class X11Windows {
 public:
  struct Client {
    unsigned long window = 0;
    long pid = 0;             // _NET_WM_PID, 0 when absent
    std::string instance;     // WM_CLASS instance name
    std::string windowClass;  // WM_CLASS class name
  };

  // Nothing when no display is reachable.
  static std::unique_ptr<X11Windows> open();
  ~X11Windows();
  X11Windows(const X11Windows&) = delete;
  X11Windows& operator=(const X11Windows&) = delete;

  // The window manager's client list (_NET_CLIENT_LIST), in its order; empty without one.
  std::vector<Client> clients();
  // Asks the window manager to bring the window to the front (_NET_ACTIVE_WINDOW). False when the
  // request could not be sent.
  bool activate(unsigned long window);

 private:
  explicit X11Windows(void* display) : display_(display) {}
  void* display_;
};

}  // namespace earshot::linux_platform
