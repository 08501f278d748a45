#include "platform/linux/Process.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

namespace earshot::linux_platform {

void prepareProcess() {
  // A host that closed our standard output must not kill us mid-answer.
  std::signal(SIGPIPE, SIG_IGN);
  // The host reads only our standard output, and nothing of ours writes anywhere else; a library
  // that prints its own warnings (libmpg123 through libsndfile does) must not reach the host.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDERR_FILENO);
    if (null != STDERR_FILENO) ::close(null);
  }
  // A session bus is known by its address, or by the socket GLib and libdbus look for first.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat status {};
  const bool known =
      (address && *address) ||
      (runtime && *runtime && ::stat((std::string(runtime) + "/bus").c_str(), &status) == 0);
  if (!known) ::setenv("DBUS_SESSION_BUS_ADDRESS", noSessionBus, 1);
}

}  // namespace earshot::linux_platform
