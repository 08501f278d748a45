// Wires the Linux services to the command-line front end.
#include "async/MainLoop.hpp"
#include "catalog/Lookup.hpp"
#include "cli/Entry.hpp"
#include "cli/FileMode.hpp"
#include "cli/Survey.hpp"
#include "platform/Speech.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/LinuxWorkspace.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "platform/linux/Process.hpp"
#include "platform/linux/X11HotKeys.hpp"

int main(int argc, char** argv) {
  earshot::linux_platform::prepareProcess();
  earshot::MainLoop loop;
  // One X connection for the whole process; it connects on first use.
  earshot::linux_platform::X11HotKeys hotKeys(loop);
  static earshot::linux_platform::LinuxAudioToolkit audio;
  static earshot::linux_platform::PocketSphinxService speech;
  earshot::speechServices() = {&audio, &speech};
  earshot::Modes modes;
  modes.file = earshot::fileMode;
  modes.lookup = [&loop](const std::string& text, bool exact, bool launch) {
    earshot::linux_platform::LinuxWorkspace workspace;
    if (auto status = earshot::lookup(workspace, loop, text, exact, launch)) return *status;
    // The launch's completion or its time limit ends the process.
    loop.run();
    return 1;
  };
  modes.survey = [&hotKeys] { return earshot::runSurvey(hotKeys); };
  return earshot::runEntry(earshot::Arguments(argc, argv), modes);
}
