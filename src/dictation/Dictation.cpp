#include "dictation/Dictation.hpp"

#include "cli/Reason.hpp"
#include "core/Language.hpp"
#include "platform/Platform.hpp"
#include "speech/Take.hpp"

namespace earshot {

namespace {

Co<void> prepareQuietly(std::shared_ptr<SpeechInput> speech, Language language) {
  try {
    co_await speech->recognizer().prepare(language);
  } catch (...) {
    // Only the take's own outcome is reported.
  }
}

bool letGo(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const SpeechFailure& failure) {
    return failure.kind() == SpeechFailure::Case::letGo;
  } catch (...) {
  }
  return false;
}

}  // namespace

Dictation::Dictation(Platform& platform, Answer::Exit exit)
    : platform_(platform),
      speech_(std::make_shared<SpeechInput>(platform)),
      exit_(std::move(exit)) {}

void Dictation::start() {
  // No id in this mode's events, and no reference to the dictation.
  speech_->onPartial = [](std::int64_t, const std::string& text) {
    emit("partial", {{"text", text}});
  };
  speech_->onLevel = [](std::int64_t, float level) {
    emit("level", {{"value", static_cast<double>(level)}});
  };
  speech_->warmUp();
  if (speech_->microphoneUndecided()) emit("asking");
  const Language language = spoken.load();
  MainLoop& loop = platform_.loop;
  spawn(prepareQuietly(speech_, language), loop);
  spawn(openTake(language), loop);
  std::weak_ptr<Dictation> weak = weak_from_this();
  loop.after(seconds(timeLimit), [weak] {
    if (auto dictation = weak.lock()) dictation->cancel();
  });
}

Co<void> Dictation::openTake(Language language) {
  auto self = shared_from_this();
  std::weak_ptr<Dictation> weak = self;
  SpeechInput::TakeRef take;
  std::exception_ptr failure;
  try {
    take = co_await speech_->start(language, 1, [weak] {
      auto dictation = weak.lock();
      return dictation && !dictation->stopping_ && !dictation->cancelled_;
    });
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    if (letGo(failure))
      close(cancelled_ ? "cancelled" : "final",
            cancelled_ ? Payload::object() : Payload{{"text", ""}});
    else
      close("error", reason(failure));
    co_return;
  }
  take_ = take;
  if (cancelled_) {
    speech_->cancel(take);
  } else if (stopping_) {
    co_await finish(take);
  } else {
    emit("open");
  }
}

void Dictation::stop() {
  if (stopping_ || cancelled_ || over_) return;
  stopping_ = true;
  // Without a take the opening finishes it, or `wanted` turns it down.
  if (!take_) return;
  spawn(finishAfter(stopDelay, take_), platform_.loop);
}

Co<void> Dictation::finishAfter(double delay, SpeechInput::TakeRef take) {
  auto self = shared_from_this();
  (void)co_await sleep(seconds(delay));
  co_await finish(std::move(take));
}

void Dictation::cancel() {
  if (cancelled_ || over_) return;
  cancelled_ = true;
  if (take_) speech_->cancel(take_);
  close("cancelled");
}

Co<void> Dictation::finish(SpeechInput::TakeRef take) {
  auto self = shared_from_this();
  const std::string text = co_await speech_->finish(take);
  if (take->failed() && text.empty())
    close("error", {{"reason", "failed"}, {"detail", "the analyzer didn't start"}});
  else
    close("final", {{"text", text}});
}

void Dictation::close(std::string_view name, const Payload& payload) {
  if (over_) return;
  over_ = true;
  emit(name, payload);
  exit_(0);
}

}  // namespace earshot
