#pragma once

// A Platform of fakes for tests: a simulated main loop, the scripted hot-key and speech services,
// the real audio toolkit (conversion and files need no device), a fixture workspace in a fresh
// folder, and a capture service whose microphone has nothing to give.

#include <memory>

#include "async/MainLoop.hpp"
#include "platform/Capture.hpp"
#include "platform/Platform.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "support/AppFixtures.hpp"
#include "support/FakeHotKeyService.hpp"
#include "support/FakeSpeech.hpp"
#include "support/TemporaryFolder.hpp"

namespace earshot::testing {

// Permission `authorized`; engines report 0 Hz and no channels, and refuse to start.
class SilentCapture final : public CaptureService {
 public:
  AudioEngineRef makeEngine() override;
  Permission permission() override { return Permission::authorized; }
  Co<bool> requestPermission() override { co_return true; }
  void addDefaultInputListener(std::function<void()>) override {}
  void addConfigurationListener(std::function<void(const AudioEngine&)>) override {}
};

class FakePlatform {
 public:
  FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  operator Platform&() { return platform; }

  MainLoop loop{MainLoop::Time::simulated};
  FakeHotKeyService hotKeys;
  // The workspace's system root is `root/sys`, its home `root/home`.
  TemporaryFolder root;
  FixtureWorkspace workspace;
  linux_platform::LinuxAudioToolkit audio;
  FakeSpeechService speech;
  SilentCapture capture;
  Platform platform;
};

}  // namespace earshot::testing
