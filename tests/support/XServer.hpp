#pragma once

#include <sys/types.h>

#include <string>

namespace earshot::testing {

// A private Xvfb for one test (or suite): started on a free display, killed on destruction.
class XServer {
 public:
  XServer();
  // On the first display from `first` up that is free, for a test that frees its display and
  // takes it again: -displayfd's lowest free number could be taken by another test meanwhile.
  explicit XServer(int first);
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool running() const { return pid_ > 0 && !display_.empty(); }
  // Such as ":3".
  const std::string& display() const { return display_; }

  // Stops the server (SIGSTOP): it still accepts connections but never answers them. It is resumed
  // before it is ended.
  void stop();
  void resume();
  // Ends the server as a crash of the desktop would (it goes away with every connection), and
  // starts it again on the same display.
  void end();
  bool restart();

 private:
  pid_t pid_ = -1;
  std::string display_;
  bool stopped_ = false;
};

}  // namespace earshot::testing
