#pragma once

// The capture service on PulseAudio (or PipeWire's pulse server): one threaded PulseAudio main
// loop for the process, connected on first use; its thread is the capture thread. Engines record
// the default source in 32-bit float at the source's own rate and channel count.

#include <memory>

#include "async/MainLoop.hpp"
#include "platform/Capture.hpp"

namespace earshot::linux_platform {

class PulseConnection;

class PulseCapture final : public CaptureService {
 public:
  explicit PulseCapture(MainLoop& loop);
  ~PulseCapture() override;
  PulseCapture(const PulseCapture&) = delete;
  PulseCapture& operator=(const PulseCapture&) = delete;

  AudioEngineRef makeEngine() override;
  // There is no microphone permission on Linux.
  Permission permission() override { return Permission::authorized; }
  Co<bool> requestPermission() override;
  void addDefaultInputListener(std::function<void()> listener) override;
  void addConfigurationListener(std::function<void(const AudioEngine& engine)> listener) override;

 private:
  std::shared_ptr<PulseConnection> connection_;
};

}  // namespace earshot::linux_platform
