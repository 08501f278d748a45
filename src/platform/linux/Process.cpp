#include "platform/linux/Process.hpp"

#include <csignal>

namespace earshot::linux_platform {

void prepareProcess() {
  // A host that closed our standard output must not kill us mid-answer.
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace earshot::linux_platform
