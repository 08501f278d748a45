#include "platform/linux/LinuxPlatform.hpp"

#include "platform/linux/PulseCapture.hpp"

namespace earshot::linux_platform {

LinuxPlatform::LinuxPlatform()
    : hotKeys_(loop_),
      capture_(std::make_unique<PulseCapture>(loop_)),
      platform_{loop_, hotKeys_, workspace_, audio_, speech_, *capture_} {}

LinuxPlatform::~LinuxPlatform() = default;

}  // namespace earshot::linux_platform
