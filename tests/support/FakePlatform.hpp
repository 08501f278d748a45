#pragma once

// A Platform of fakes for tests: a simulated main loop, the scripted hot-key and speech services,
// the real audio toolkit (conversion and files need no device), a fixture workspace in a fresh
// folder, and a scripted capture service.

#include <memory>

#include "async/MainLoop.hpp"
#include "platform/Capture.hpp"
#include "platform/Platform.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "support/AppFixtures.hpp"
#include "support/FakeCapture.hpp"
#include "support/FakeHotKeyService.hpp"
#include "support/FakeSpeech.hpp"
#include "support/SimulatedLoop.hpp"
#include "support/TemporaryFolder.hpp"

namespace earshot::testing {

class FakePlatform {
 public:
  FakePlatform();
  // Leaves no hot key registered on the fake service: the registry of hot keys is the process's.
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  operator Platform&() { return platform; }

  SimulatedLoop loop;
  FakeHotKeyService hotKeys;
  // The workspace's system root is `root/sys`, its home `root/home`.
  TemporaryFolder root;
  FixtureWorkspace workspace;
  linux_platform::LinuxAudioToolkit audio;
  FakeSpeechService speech;
  FakeCapture capture{loop};
  Platform platform;
};

}  // namespace earshot::testing
