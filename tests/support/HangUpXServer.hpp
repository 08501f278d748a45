#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "support/StandInXServer.hpp"

namespace earshot::testing {

// A stand-in X server that completes the connection handshake of every client and then hangs up,
// so that the client's first request fails while Xlib is still opening the display. Listens on an
// abstract socket: nothing to clean up on disk.
class HangUpXServer {
 public:
  HangUpXServer();
  HangUpXServer(const HangUpXServer&) = delete;
  HangUpXServer& operator=(const HangUpXServer&) = delete;

  bool running() const { return server_.running(); }
  const std::string& display() const { return server_.display(); }
  // Clients whose handshake was answered.
  int answered() const { return answered_; }

 private:
  void serve(int client);

  const std::vector<std::uint8_t> reply_;
  std::atomic<int> answered_{0};
  StandInXServer server_;
};

}  // namespace earshot::testing
