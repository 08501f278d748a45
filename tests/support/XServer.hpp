#pragma once

#include <sys/types.h>

#include <string>

namespace earshot::testing {

// A private Xvfb for one test (or suite): started on a free display, killed on destruction.
class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool running() const { return pid_ > 0 && !display_.empty(); }
  // Such as ":3".
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace earshot::testing
