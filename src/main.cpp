// Wires the Linux services to the command-line front end.
#include "async/MainLoop.hpp"
#include "cli/Entry.hpp"
#include "cli/FileMode.hpp"
#include "platform/Speech.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "platform/linux/Process.hpp"

int main(int argc, char** argv) {
  earshot::linux_platform::prepareProcess();
  earshot::MainLoop loop;
  static earshot::linux_platform::LinuxAudioToolkit audio;
  static earshot::linux_platform::PocketSphinxService speech;
  earshot::speechServices() = {&audio, &speech};
  earshot::Modes modes;
  modes.file = earshot::fileMode;
  return earshot::runEntry(earshot::Arguments(argc, argv), modes);
}
