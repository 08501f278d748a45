#include "support/FakePlatform.hpp"

#include "platform/PlatformError.hpp"

namespace earshot::testing {

namespace {

class SilentEngine final : public AudioEngine {
  AudioFormat outputFormat() override { return {}; }
  AudioFormat inputFormat() override { return {}; }
  void installTap(std::uint32_t, const AudioFormat&, Tap) override {}
  void removeTap() override {}
  void prepare() override {}
  void start() override { throw PlatformError("earshot.test", 1, "no microphone"); }
  void stop() override {}
  bool isRunning() const override { return false; }
};

}  // namespace

AudioEngineRef SilentCapture::makeEngine() {
  return std::make_shared<SilentEngine>();
}

FakePlatform::FakePlatform()
    : workspace(root.path() + "/sys", root.path() + "/home"), platform{loop,  hotKeys, workspace,
                                                                       audio, speech,  capture} {}

}  // namespace earshot::testing
