#pragma once

// The capture side of the audio service: an engine whose input is the default microphone, the
// microphone permission, and the events that tell when the input changed.

#include <cstdint>
#include <functional>
#include <memory>

#include "async/Co.hpp"
#include "platform/Audio.hpp"

namespace earshot {

// One capture engine on the system's default microphone (bus 0 of its input node). Called on the
// main thread only; the tap runs on the capture thread.
class AudioEngine {
 public:
  // Receives every captured buffer; the time stamp is the capture thread's frame count.
  using Tap = std::function<void(const PcmBufferRef& buffer, std::uint64_t timeStamp)>;

  virtual ~AudioEngine() = default;

  // The input node's formats for bus 0: what a tap receives, and what the hardware delivers. A
  // rate of 0 and no channels when there is no microphone. Bounded in time.
  virtual AudioFormat outputFormat() = 0;
  virtual AudioFormat inputFormat() = 0;

  // The one tap: `tap` receives buffers of `bufferSize` frames in `format`, whatever size the
  // hardware delivers. Replaces an earlier tap.
  virtual void installTap(std::uint32_t bufferSize, const AudioFormat& format, Tap tap) = 0;
  // Synchronous: once it returns, the tap is never called again.
  virtual void removeTap() = 0;

  virtual void prepare() = 0;
  // Throws PlatformError when capture cannot start.
  virtual void start() = 0;
  // Synchronous like removeTap.
  virtual void stop() = 0;
  virtual bool isRunning() const = 0;

  // Completes once the formats can be read without waiting for the audio service, or once the
  // service has had its time to answer; any wait happens off the main thread. Until then, reading
  // the formats may wait.
  virtual Co<void> ready() {
    (void)outputFormat();
    co_return;
  }
};

using AudioEngineRef = std::shared_ptr<AudioEngine>;

class CaptureService {
 public:
  // Numbered as the platform numbers them.
  enum class Permission { undetermined = 0, restricted = 1, denied = 2, authorized = 3 };

  virtual ~CaptureService() = default;

  // A new engine on the default microphone; it touches nothing until asked.
  virtual AudioEngineRef makeEngine() = 0;

  // Never prompts.
  virtual Permission permission() = 0;
  // Asks the user once and gives the answer on the main loop.
  virtual Co<bool> requestPermission() = 0;

  // Called on the main loop whenever the default input device changes. Kept for the process.
  virtual void addDefaultInputListener(std::function<void()> listener) = 0;
  // Called on the main loop with the engine whose configuration changed (its stream failed, the
  // sound server went away). Kept for the process.
  virtual void addConfigurationListener(
      std::function<void(const AudioEngine& engine)> listener) = 0;
};

}  // namespace earshot
