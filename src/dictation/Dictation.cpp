#include "dictation/Dictation.hpp"

#include "core/Language.hpp"
#include "platform/Platform.hpp"
#include "speech/Take.hpp"

namespace earshot {

Dictation::Dictation(Platform& platform, EventSink events)
    : platform_(platform),
      speech_(std::make_shared<SpeechInput>(platform)),
      events_(std::move(events)) {}

void Dictation::start() {
  // No id in this mode's events, and no reference to the dictation.
  speech_->onPartial = [events = events_](std::int64_t, const std::string& text) {
    events.send("partial", {{"text", text}});
  };
  speech_->onLevel = [events = events_](std::int64_t, float level) {
    events.send("level", {{"value", static_cast<double>(level)}});
  };
  speech_->warmUp();
  if (speech_->microphoneUndecided()) events_.send("asking");
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
  SpeechInput::TakeRef take;
  std::exception_ptr failure;
  try {
    auto opening = speech_->start(language, 1, stillWanted());
    take = co_await std::move(opening);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    refused(failure);
    co_return;
  }
  take_ = take;
  if (cancelled_) {
    speech_->cancel(take);
  } else if (stopping_) {
    auto ending = finish(take);
    co_await std::move(ending);
  } else {
    events_.send("open");
  }
}

std::function<bool()> Dictation::stillWanted() {
  return [weak = weak_from_this()] {
    auto dictation = weak.lock();
    return dictation && !dictation->stopping_ && !dictation->cancelled_;
  };
}

void Dictation::refused(std::exception_ptr failure) {
  if (failureCase(failure) != SpeechFailure::Case::letGo)
    close("error", events_.reason(failure));
  else if (cancelled_)
    close("cancelled");
  else
    close("final", {{"text", ""}});
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
  auto ending = finish(std::move(take));
  co_await std::move(ending);
}

void Dictation::cancel() {
  if (cancelled_ || over_) return;
  cancelled_ = true;
  if (take_) speech_->cancel(take_);
  close("cancelled");
}

Co<void> Dictation::finish(SpeechInput::TakeRef take) {
  auto self = shared_from_this();
  auto ending = speech_->finish(take);
  const std::string text = co_await std::move(ending);
  finished(*take, text);
}

void Dictation::finished(const SpeechInput::Take& take, const std::string& text) {
  if (take.failed() && text.empty())
    close("error", {{"reason", "failed"}, {"detail", "the analyzer didn't start"}});
  else
    close("final", {{"text", text}});
}

void Dictation::close(std::string_view name, const nlohmann::json& payload) {
  if (over_) return;
  over_ = true;
  events_.send(name, payload);
  events_.exit(0);
}

}  // namespace earshot
