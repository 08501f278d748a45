#include "support/StandInXServer.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace earshot::testing {

StandInXServer::StandInXServer(int first, std::function<void(int client)> serve) {
  for (int number = first; number < 1000 && listener_ < 0; ++number) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Built from named strings: `"literal" + std::to_string(...)` trips a false -Wrestrict in
    // GCC 12 at -O3.
    const std::string digits = std::to_string(number);
    const std::string name = "/tmp/.X11-unix/X" + digits;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd, 16) == 0) {
      listener_ = fd;
      display_ = ":" + digits;
    } else {
      close(fd);
    }
  }
  if (listener_ < 0) return;
  thread_ = std::thread([this, serve = std::move(serve)] {
    while (!stopping_) {
      pollfd wait{listener_, POLLIN, 0};
      if (poll(&wait, 1, 50) <= 0) continue;
      int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) serve(client);
    }
  });
}

StandInXServer::~StandInXServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

}  // namespace earshot::testing
