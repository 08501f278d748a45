#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace earshot::testing {

// The listening side of the tests' stand-in X servers: an abstract socket (nothing on disk) on the
// first free display number from `first` on, far above those Xvfb picks for itself, and a thread
// that hands each connection to `serve` until the server is destroyed. `serve` owns the client.
class StandInXServer {
 public:
  StandInXServer(int first, std::function<void(int client)> serve);
  ~StandInXServer();
  StandInXServer(const StandInXServer&) = delete;
  StandInXServer& operator=(const StandInXServer&) = delete;

  bool running() const { return listener_ >= 0; }
  const std::string& display() const { return display_; }

 private:
  int listener_ = -1;
  std::string display_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace earshot::testing
