#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace earshot::testing {

// A stand-in X server that takes every connection and never says a word: a client waits for the
// server's greeting for as long as it waits. Listens on an abstract socket: nothing on disk.
class SilentXServer {
 public:
  SilentXServer();
  ~SilentXServer();
  SilentXServer(const SilentXServer&) = delete;
  SilentXServer& operator=(const SilentXServer&) = delete;

  bool running() const { return listener_ >= 0; }
  const std::string& display() const { return display_; }
  // Connections taken so far.
  int connections() const { return connections_; }

 private:
  void serve();

  int listener_ = -1;
  std::string display_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::vector<int> clients_;
  std::thread thread_;
};

}  // namespace earshot::testing
