#include "support/SilentXServer.hpp"

#include <unistd.h>

namespace earshot::testing {

SilentXServer::SilentXServer()
    : server_(950, [this](int client) {
        clients_.push_back(client);  // held open, never read, never answered
        ++connections_;
      }) {}

SilentXServer::~SilentXServer() {
  for (int client : clients_) close(client);
}

}  // namespace earshot::testing
