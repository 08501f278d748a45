#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace earshot::testing {

// A stand-in X server that completes the connection handshake of every client and then hangs up,
// so that the client's first request fails while Xlib is still opening the display. Listens on an
// abstract socket: nothing to clean up on disk.
class HangUpXServer {
 public:
  HangUpXServer();
  ~HangUpXServer();
  HangUpXServer(const HangUpXServer&) = delete;
  HangUpXServer& operator=(const HangUpXServer&) = delete;

  bool running() const { return listener_ >= 0; }
  const std::string& display() const { return display_; }
  // Clients whose handshake was answered.
  int answered() const { return answered_; }

 private:
  void serve();

  int listener_ = -1;
  std::string display_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> answered_{0};
  std::thread thread_;
};

}  // namespace earshot::testing
