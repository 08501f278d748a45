// Builds the Linux platform and hands it to the command-line front end.
#include "cli/Entry.hpp"
#include "platform/linux/LinuxPlatform.hpp"
#include "platform/linux/Process.hpp"

int main(int argc, char** argv) {
  earshot::linux_platform::prepareProcess();
  // Static like the services it replaced: a detached thread may still use one while the
  // process ends.
  static earshot::linux_platform::LinuxPlatform machine;
  return earshot::runEntry(earshot::Arguments(argc, argv), machine.platform());
}
