// Ending takes: finishing keeps what was said, cancelling throws it away. Each ending is an
// activity that the next take's analyzer waits for, so the endings form a bounded chain.

#include "platform/Platform.hpp"
#include "speech/SpeechInput.hpp"
#include "speech/Take.hpp"
#include "timing/Race.hpp"

namespace earshot {

namespace {

constexpr double finishWait = 8.0;
constexpr double previousEndingWait = 4.0;

Co<void> stopNow(std::shared_ptr<SpeechAnalyzer> analyzer) {
  if (analyzer) analyzer->cancelAndFinishNow();
  co_return;
}

// Tears the take down once its analyzer has delivered its last result; yields the final text.
Co<std::string> endingOf(SpeechInput::TakeRef take, MainLoop& loop) {
  bool started = false;
  if (auto start = take->analyzerStart_) {
    try {
      co_await *start;
      started = !co_await cancelled();
    } catch (...) {
    }
  }
  take->analyzerStart_.reset();
  if (!started) {
    if (!co_await cancelled()) take->failed_ = true;
    if (take->resultsTask_) take->resultsTask_->cancel();
    take->resultsTask_.reset();
    take->analyzer_.reset();
    co_return take->transcript_->text();
  }
  if (auto analyzer = take->analyzer_) {
    try {
      co_await onBackground([analyzer] { analyzer->finalizeAndFinishThroughEndOfInput(); }, loop);
    } catch (...) {
      // A failed finalization still leaves the reader's text.
    }
  }
  if (auto reader = take->resultsTask_; reader && !co_await cancelled())
    co_await reader->completion();
  take->resultsTask_.reset();
  take->analyzer_.reset();
  co_return take->transcript_->text();
}

Co<std::string> cancelling(std::shared_ptr<SpeechAnalyzer> analyzer,
                           std::optional<Activity<std::string>> previous) {
  if (analyzer) analyzer->cancelAndFinishNow();
  if (previous) (void)co_await firstOf(*previous, previousEndingWait, [] { return std::string(); });
  co_return std::string();
}

}  // namespace

void SpeechInput::release(const TakeRef& take) {
  if (take->ending_) return;
  stopCapture(take);
  take->tap_ = nullptr;
  // What is already queued stays for the analyzer.
  if (take->continuation_) take->continuation_->finish();
  take->continuation_.reset();
  auto ending = spawn(endingOf(take, platform_.loop), platform_.loop);
  take->ending_ = ending;
  lastEnding_ = ending;
}

Co<std::string> SpeechInput::finish(TakeRef take) {
  auto self = shared_from_this();
  release(take);
  Activity<std::string> ending = *take->ending_;
  std::shared_ptr<SpeechAnalyzer> analyzer = take->analyzer_;
  MainLoop& loop = platform_.loop;
  co_return co_await firstOf(ending, finishWait, [ending, analyzer, box = take->transcript_, &loop] {
    ending.cancel();
    spawn(stopNow(analyzer), loop);
    return box->text();
  });
}

void SpeechInput::cancel(const TakeRef& take) {
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
  auto cancelActivity = spawn(cancelling(std::move(analyzer), lastEnding_), platform_.loop);
  take->ending_ = cancelActivity;
  lastEnding_ = cancelActivity;
}

}  // namespace earshot
