#include "platform/linux/LinuxPlatform.hpp"

#include "platform/PlatformError.hpp"

namespace earshot::linux_platform {

namespace {

// Until live capture lands: a microphone that is allowed but has nothing to give.
class NoMicrophone final : public CaptureService {
  class Engine final : public AudioEngine {
    AudioFormat outputFormat() override { return {}; }
    AudioFormat inputFormat() override { return {}; }
    void installTap(std::uint32_t, const AudioFormat&, Tap) override {}
    void removeTap() override {}
    void prepare() override {}
    void start() override { throw PlatformError("earshot.capture", 1, "no capture in this build"); }
    void stop() override {}
    bool isRunning() const override { return false; }
  };

 public:
  AudioEngineRef makeEngine() override { return std::make_shared<Engine>(); }
  Permission permission() override { return Permission::authorized; }
  Co<bool> requestPermission() override { co_return true; }
  void addDefaultInputListener(std::function<void()>) override {}
  void addConfigurationListener(std::function<void(const AudioEngine&)>) override {}
};

}  // namespace

LinuxPlatform::LinuxPlatform()
    : hotKeys_(loop_),
      capture_(std::make_unique<NoMicrophone>()),
      platform_{loop_, hotKeys_, workspace_, audio_, speech_, *capture_} {}

LinuxPlatform::~LinuxPlatform() = default;

}  // namespace earshot::linux_platform
