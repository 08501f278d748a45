#pragma once

// A desktop's portal for a test, with no display: a private session bus (dbus-daemon), Debian's
// xdg-desktop-portal pointed at a portal description of our own, and the stand-in back end
// (helpers/StandInPortal.cpp) that the test drives. Everything is ended on destruction.

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "support/Child.hpp"
#include "support/TemporaryFolder.hpp"

namespace earshot::testing {

class PortalDesktop {
 public:
  struct Options {
    bool frontend = true;   // xdg-desktop-portal itself
    bool shortcuts = true;  // the portal description names GlobalShortcuts
  };
  PortalDesktop(const std::string& standIn, Options options);
  explicit PortalDesktop(const std::string& standIn) : PortalDesktop(standIn, Options{}) {}
  ~PortalDesktop();
  PortalDesktop(const PortalDesktop&) = delete;
  PortalDesktop& operator=(const PortalDesktop&) = delete;

  // The bus, the stand-in and (when asked for) the portal all answer.
  bool running() const { return running_; }
  const std::string& address() const { return address_; }
  // A Wayland session on this bus, without any X display.
  std::map<std::string, std::string> environment() const;

  // Sends a command to the stand-in; true once it has taken it.
  bool control(const std::string& command);
  // Sends a command without waiting for it to be taken (its "ok" is left to report()).
  bool send(const std::string& command);
  // The stand-in's next report line that starts with `prefix` (others are skipped); empty after
  // `limit`.
  std::string report(const std::string& prefix,
                     std::chrono::milliseconds limit = std::chrono::seconds(10));

  // Ends xdg-desktop-portal (it leaves the bus), and starts it again.
  void stopPortal();
  bool startPortal();

 private:
  bool startStandIn();
  bool owned(const std::string& name) const;

  std::string standIn_;
  Options options_;
  TemporaryFolder folder_;
  std::string address_;
  std::unique_ptr<Child> bus_;
  std::unique_ptr<Child> standInProcess_;
  std::unique_ptr<Child> portal_;
  std::deque<std::string> backlog_;  // reports read while looking for others
  bool running_ = false;
};

}  // namespace earshot::testing
