#pragma once

// One capture, from the moment the user asks for speech to its final transcript.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "async/Co.hpp"
#include "platform/Capture.hpp"
#include "platform/Speech.hpp"
#include "speech/SpeechInput.hpp"
#include "speech/TranscriptBox.hpp"

namespace earshot {

// Every field but the three readable ones belongs to the speech input and is touched only on the
// main thread.
class SpeechInput::Take {
 public:
  Take(std::int64_t id, TimePoint startedAt) : id_(id), startedAt_(startedAt) {}

  std::int64_t id() const { return id_; }
  TimePoint startedAt() const { return startedAt_; }
  // The analyzer never started: the take's text is what the box held, normally nothing.
  bool failed() const { return failed_; }

 private:
  friend class SpeechInput;

  std::int64_t id_;
  TimePoint startedAt_;
  std::shared_ptr<TranscriptBox> transcript_ = std::make_shared<TranscriptBox>();
  std::shared_ptr<SpeechAnalyzer> analyzer_;
  // The writing end of the take's input stream, while it is open.
  std::optional<AnalyzerInputStream> continuation_;
  std::optional<Activity<void>> resultsTask_;
  std::optional<Activity<void>> analyzerStart_;
  std::optional<Activity<std::string>> ending_;
  // Empty when absent.
  AudioEngine::Tap tap_;
  int reopened_ = 0;
  bool failed_ = false;
};

}  // namespace earshot
