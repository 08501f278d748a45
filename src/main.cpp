// Wires the Linux services to the command-line front end.
#include "async/MainLoop.hpp"
#include "cli/Entry.hpp"
#include "platform/linux/Process.hpp"

int main(int argc, char** argv) {
  earshot::linux_platform::prepareProcess();
  earshot::MainLoop loop;
  earshot::Modes modes;
  return earshot::runEntry(earshot::Arguments(argc, argv), modes);
}
