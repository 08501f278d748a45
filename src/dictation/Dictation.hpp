#pragma once

// The dictation mode's controller: one open-ended take that the host stops or cancels.

#include <functional>
#include <memory>
#include <string_view>

#include "cli/Emit.hpp"
#include "speech/SpeechInput.hpp"

namespace earshot {

struct Platform;

class Dictation : public std::enable_shared_from_this<Dictation> {
 public:
  // The longest dictation; then it is cancelled.
  static constexpr double timeLimit = 300.0;
  // Speech trails the host's "stop" a little; the take goes on this long after it.
  static constexpr double stopDelay = 0.28;

  // `exit` ends the process after the closing event; tests pass a recorder.
  explicit Dictation(Platform& platform, Answer::Exit exit = Answer::terminate);

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
  // Emits the one closing event and ends the process; later claims do nothing.
  void close(std::string_view name, const Payload& payload = Payload::object());

  Platform& platform_;
  std::shared_ptr<SpeechInput> speech_;
  SpeechInput::TakeRef take_;
  bool stopping_ = false;
  bool cancelled_ = false;
  bool over_ = false;
  Answer::Exit exit_;
};

}  // namespace earshot
