#pragma once

// A real KDE desktop for a test, with no screen: a private session bus, KWin's virtual Wayland back
// end (which hosts kglobalaccel), xdg-desktop-portal with xdg-desktop-portal-kde, and a client of
// KWin's fake-input protocol (helpers/FakeInput.cpp) that presses keys as a keyboard does.
// Everything is ended on destruction.
//
// KWin 5.27 refuses to run as root, and runs only from a copy of its binary without the file
// capability Debian gives it: runAsDesktopUser() runs the test program itself as an unprivileged
// user when started as root.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Child.hpp"
#include "support/TemporaryFolder.hpp"

namespace earshot::testing {

class KWinDesktop {
 public:
  explicit KWinDesktop(const std::string& fakeInput);
  ~KWinDesktop();
  KWinDesktop(const KWinDesktop&) = delete;
  KWinDesktop& operator=(const KWinDesktop&) = delete;

  // Every part answers; otherwise what did not, in failure().
  bool running() const { return failure_.empty(); }
  const std::string& failure() const { return failure_; }
  const std::string& address() const { return address_; }
  // A Plasma Wayland session on this bus and compositor, hot keys through the portal.
  std::map<std::string, std::string> environment() const;

  // Presses (or releases) these evdev key codes in order; true once KWin has taken them.
  bool press(const std::vector<unsigned>& codes);
  bool release(const std::vector<unsigned>& codes);
  // The members of the portal's GlobalShortcuts signals ("Activated", "Deactivated") seen on the
  // bus since the last call, in order.
  std::vector<std::string> portalSignals();

 private:
  bool start(const std::string& fakeInput);
  bool key(const std::string& verb, const std::vector<unsigned>& codes);
  bool awaitName(const std::string& name, int tenths) const;

  TemporaryFolder folder_;
  std::string address_;
  std::string failure_;
  std::unique_ptr<Child> bus_, kwin_, kdePortal_, portal_, fakeInput_, monitor_;
};

// The chord "option-space" as evdev codes: KEY_LEFTALT, KEY_SPACE.
inline const std::vector<unsigned> altSpace{56, 57};

// As root: creates the user "earshot-kwin" when missing, copies `programs` (each "NAME=PATH") where
// that user can run them, and runs this program again as that user, in a process group of its own
// that is killed when it ends, whatever it left running. The copies' paths are in the environment
// under each NAME. Not as root: runs it again in a process group of its own all the same.
// Returns the exit status to end with, or -1 in the process that is to run the tests.
int runAsDesktopUser(int argc, char** argv, const std::vector<std::string>& programs);

// The path of a program runAsDesktopUser() copied, or `fallback`.
std::string copiedProgram(const std::string& name, const std::string& fallback);

}  // namespace earshot::testing
