#pragma once

// The Platform of a Linux process: the main loop and the real services behind it.

#include <memory>

#include "async/MainLoop.hpp"
#include "platform/Platform.hpp"
#include "platform/linux/ChosenHotKeys.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/LinuxWorkspace.hpp"
#include "platform/linux/PocketSphinx.hpp"

namespace earshot::linux_platform {

// Built once in main; every service touches the machine only when first used.
class LinuxPlatform {
 public:
  LinuxPlatform();
  ~LinuxPlatform();
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  Platform& platform() { return platform_; }

 private:
  MainLoop loop_;
  // X11 or the desktop portal, chosen on first use.
  ChosenHotKeys hotKeys_;
  LinuxWorkspace workspace_;
  LinuxAudioToolkit audio_;
  PocketSphinxService speech_;
  std::unique_ptr<CaptureService> capture_;
  Platform platform_;
};

}  // namespace earshot::linux_platform
