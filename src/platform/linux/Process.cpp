#include "platform/linux/Process.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

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
}

}  // namespace earshot::linux_platform
