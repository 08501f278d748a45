#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "support/StandInXServer.hpp"

namespace earshot::testing {

// A stand-in X server that takes every connection and never says a word: a client waits for the
// server's greeting for as long as it waits. Listens on an abstract socket: nothing on disk.
class SilentXServer {
 public:
  SilentXServer();
  ~SilentXServer();
  SilentXServer(const SilentXServer&) = delete;
  SilentXServer& operator=(const SilentXServer&) = delete;

  bool running() const { return server_.running(); }
  const std::string& display() const { return server_.display(); }
  // Connections taken so far.
  int connections() const { return connections_; }

 private:
  std::atomic<int> connections_{0};
  std::vector<int> clients_;
  // Last: its thread is gone before the clients are closed.
  StandInXServer server_;
};

}  // namespace earshot::testing
