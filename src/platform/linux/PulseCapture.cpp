#include "platform/linux/PulseCapture.hpp"

#include "async/Co.hpp"
#include "platform/linux/PulseConnection.hpp"
#include "platform/linux/PulseEngine.hpp"

namespace earshot::linux_platform {

PulseCapture::PulseCapture(MainLoop& loop) : connection_(std::make_shared<PulseConnection>(loop)) {}

PulseCapture::~PulseCapture() = default;

AudioEngineRef PulseCapture::makeEngine() {
  return std::make_shared<PulseEngine>(connection_);
}

Co<bool> PulseCapture::requestPermission() {
  co_return true;
}

void PulseCapture::addDefaultInputListener(std::function<void()> listener) {
  connection_->addInputListener(std::move(listener));
}

void PulseCapture::addConfigurationListener(
    std::function<void(const AudioEngine& engine)> listener) {
  connection_->addConfigurationListener(std::move(listener));
}

}  // namespace earshot::linux_platform
