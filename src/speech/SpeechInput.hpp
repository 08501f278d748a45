#pragma once

// The speech input: the recognizer it prepares, and the capture path's pieces. Takes, the engine
// and the endings come on top of this.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Capture.hpp"
#include "platform/Platform.hpp"
#include "platform/Speech.hpp"
#include "speech/Failure.hpp"
#include "speech/Recognizer.hpp"
#include "speech/Shaping.hpp"

namespace earshot {

class SpeechInput : public std::enable_shared_from_this<SpeechInput> {
 public:
  using Failure = SpeechFailure;
  // Runs on the capture thread for every captured buffer; the time stamp is not used.
  using CaptureCallback = AudioEngine::Tap;

  // Made with std::make_shared: the sinks reach it through a weak reference.
  explicit SpeechInput(Platform& platform) : platform_(platform), recognizer_(platform.speech) {}

  // Set by the user; called on the main thread.
  std::function<void(std::int64_t id, const std::string& text)> onPartial;
  std::function<void(std::int64_t id, float level)> onLevel;

  Recognizer& recognizer() { return recognizer_; }

  // The capture callback: shape, meter, convert and queue each buffer for the analyzer.
  static CaptureCallback tap(std::shared_ptr<Shapers> shapers, std::shared_ptr<LevelSink> level,
                             AnalyzerInputStream into);
  // Sinks that carry values for take `id` to the main loop, into this input's callbacks while it
  // exists.
  std::shared_ptr<LevelSink> levels(std::int64_t id);
  std::shared_ptr<PartialSink> partials(std::int64_t id);

 private:
  Platform& platform_;
  Recognizer recognizer_;
};

}  // namespace earshot
