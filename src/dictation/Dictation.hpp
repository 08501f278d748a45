#pragma once

// The dictation mode's controller: one open-ended take that the host stops or cancels.

#include <functional>
#include <memory>
#include <string_view>

#include "core/EventSink.hpp"
#include "speech/SpeechInput.hpp"

namespace earshot {

struct Platform;

class Dictation : public std::enable_shared_from_this<Dictation> {
 public:
  // The longest dictation; then it is cancelled.
  static constexpr double timeLimit = 300.0;
  // Speech trails the host's "stop" a little; the take goes on this long after it.
  static constexpr double stopDelay = 0.28;

  // `events` carries every event and the end of the process; tests pass recorders.
  Dictation(Platform& platform, EventSink events);

  // Installs the callbacks and opens the take in the background. Once, right after creation.
  void start();
  // Asks for the final text. Idempotent.
  void stop();
  // Abandons the dictation. Idempotent.
  void cancel();

  SpeechInput& speech() { return *speech_; }

 private:
  Co<void> openTake(Language language);
  Co<void> finishAfter(double delay, SpeechInput::TakeRef take);
  Co<void> finish(SpeechInput::TakeRef take);
  // Kept out of the coroutines (a gcc 12 fault with temporaries beside a co_await).
  std::function<bool()> stillWanted();
  void refused(std::exception_ptr failure);
  void finished(const SpeechInput::Take& take, const std::string& text);
  // Emits the one closing event and ends the process; later claims do nothing.
  void close(std::string_view name, const nlohmann::json& payload = nlohmann::json::object());

  Platform& platform_;
  std::shared_ptr<SpeechInput> speech_;
  SpeechInput::TakeRef take_;
  bool stopping_ = false;
  bool cancelled_ = false;
  bool over_ = false;
  EventSink events_;
};

}  // namespace earshot
