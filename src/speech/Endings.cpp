// Ending takes: finishing keeps what was said, cancelling throws it away. Each ending is an
// activity that the next take's analyzer waits for, so the endings form a bounded chain.
//
// As in Takes.cpp, calls and their co_await stay in separate statements (a gcc 12 fault).

#include "platform/Platform.hpp"
#include "speech/SpeechInput.hpp"
#include "speech/Take.hpp"
#include "timing/Race.hpp"

namespace earshot {

namespace {

constexpr double finishWait = 8.0;
constexpr double previousEndingWait = 4.0;

std::string emptyText() {
  return {};
}

Co<void> stopNow(std::shared_ptr<SpeechAnalyzer> analyzer) {
  if (analyzer) analyzer->cancelAndFinishNow();
  co_return;
}

Activity<void> finalizeOnBackground(std::shared_ptr<SpeechAnalyzer> analyzer, MainLoop& loop) {
  return onBackground([analyzer] { analyzer->finalizeAndFinishThroughEndOfInput(); }, loop);
}

Co<std::string> cancelling(std::shared_ptr<SpeechAnalyzer> analyzer,
                           std::optional<Activity<std::string>> previous) {
  if (analyzer) analyzer->cancelAndFinishNow();
  if (previous) {
    auto waiting = firstOf(*previous, previousEndingWait, emptyText);
    (void)co_await std::move(waiting);
  }
  co_return std::string();
}

}  // namespace

Co<std::string> SpeechInput::ending(TakeRef take, MainLoop& loop) {
  bool started = false;
  if (std::optional<Activity<void>> start = take->analyzerStart_) {
    try {
      co_await *start;
      started = true;
    } catch (...) {
      // It failed, or this ending was cancelled while it waited.
    }
  }
  const bool stopped = co_await cancelled();
  take->analyzerStart_.reset();
  if (!started || stopped) {
    if (!stopped) take->failed_ = true;
    if (take->resultsTask_) take->resultsTask_->cancel();
    take->resultsTask_.reset();
    take->analyzer_.reset();
    co_return take->transcript_->text();
  }
  bool analysisFailed = false;
  if (auto analyzer = take->analyzer_) {
    auto finalizing = finalizeOnBackground(analyzer, loop);
    // A failed finalization still leaves the reader's text.
    co_await finalizing.completion();
    analysisFailed = analyzer->failure() != nullptr;
  }
  if (take->resultsTask_ && !co_await cancelled()) co_await take->resultsTask_->completion();
  take->resultsTask_.reset();
  take->analyzer_.reset();
  // An analysis that failed without a word (its model never loaded) is one that never started.
  if (analysisFailed && take->transcript_->text().empty()) take->failed_ = true;
  co_return take->transcript_->text();
}

void SpeechInput::release(TakeRef take) {
  if (take->ending_) return;
  stopCapture(take);
  take->tap_ = nullptr;
  // What is already queued stays for the analyzer.
  if (take->continuation_) take->continuation_->finish();
  take->continuation_.reset();
  auto activity = spawn(ending(take, platform_.loop), platform_.loop);
  take->ending_ = activity;
  lastEnding_ = activity;
}

Co<std::string> SpeechInput::finish(TakeRef take) {
  auto self = shared_from_this();
  release(take);
  Activity<std::string> activity = *take->ending_;
  // At the deadline the ending is given up, the analyzer (made by then or not) told to stop, and
  // the text is what was recognized so far.
  auto fallback = [activity, take, &loop = platform_.loop] {
    activity.cancel();
    spawn(stopNow(take->analyzer_), loop);
    return take->transcript_->text();
  };
  auto waiting = firstOf(activity, finishWait, std::move(fallback));
  co_return co_await std::move(waiting);
}

void SpeechInput::cancel(TakeRef take) {
  stopCapture(take);
  take->tap_ = nullptr;
  if (take->continuation_) take->continuation_->finish();
  take->continuation_.reset();
  if (take->resultsTask_) take->resultsTask_->cancel();
  take->resultsTask_.reset();
  if (take->analyzerStart_) take->analyzerStart_->cancel();
  take->analyzerStart_.reset();
  if (take->ending_) take->ending_->cancel();
  std::shared_ptr<SpeechAnalyzer> analyzer = std::move(take->analyzer_);
  take->analyzer_.reset();
  auto activity = spawn(cancelling(std::move(analyzer), lastEnding_), platform_.loop);
  take->ending_ = activity;
  lastEnding_ = activity;
}

}  // namespace earshot
