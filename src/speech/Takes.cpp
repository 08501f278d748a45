// Opening takes: one at a time, after the permission, the recognizer's readiness and the user's
// continued wish; capture first, then the analyzer once the previous take has ended.
//
// gcc 12 destroys some temporaries twice when they share a full-expression with a co_await, so
// every coroutine here makes its calls in one statement and awaits the result in the next.

#include "platform/Platform.hpp"
#include "speech/SpeechInput.hpp"
#include "speech/Take.hpp"
#include "timing/Race.hpp"

namespace earshot {

namespace {

constexpr double openingWait = 4.0;
constexpr double readinessWait = 6.0;
constexpr double previousEndingWait = 4.0;
// The newest buffers a take keeps while its analyzer falls behind (about 40 s of capture).
constexpr std::size_t inputBacklog = 600;

// Completes when the gate does: the handle later starts wait on.
Co<void> whileOpening(Completion<void> gate) {
  co_await gate.completion();
}

// Closes the gate however the opening ends.
struct GateCloser {
  Completion<void> gate;
  ~GateCloser() { gate.resolve(); }
};

std::string emptyText() {
  return {};
}

std::function<Co<Recognizer::Readiness>()> readinessOf(Recognizer& recognizer, Language language) {
  return [&recognizer, language] { return recognizer.readiness(language); };
}

// Off the main thread: the reader blocks on the analyzer's results until they end or it is
// cancelled.
Activity<void> readResults(SpeechAnalyzer& analyzer, std::shared_ptr<PartialSink> sink,
                           std::shared_ptr<TranscriptBox> box, MainLoop& loop) {
  return onBackground(
      [results = analyzer.results(), sink = std::move(sink),
       box = std::move(box)](std::stop_token stop) mutable {
        while (auto result = results.pop(stop))
          sink->emit(box->update(result->text, result->isFinal));
      },
      loop);
}

std::shared_ptr<SpeechAnalyzer> makeAnalyzer(SpeechService& speech, const std::string& locale,
                                             std::optional<AppVocabulary> vocabulary) {
  return speech.makeAnalyzer(
      {Recognizer::makeTranscriber(locale, std::move(vocabulary))},
      {SpeechAnalyzer::Priority::userInitiated, SpeechAnalyzer::ModelRetention::processLifetime});
}

Co<void> startAnalyzer(std::optional<Activity<std::string>> previousEnding,
                       std::shared_ptr<SpeechAnalyzer> analyzer, AnalyzerInputStream input) {
  // The previous analyzer finishes first, so that two never compete for the recognizer.
  if (previousEnding) {
    auto waiting = firstOf(*previousEnding, previousEndingWait, emptyText);
    (void)co_await std::move(waiting);
  }
  if (co_await cancelled()) throw SpeechFailure::notRunning();
  if (!analyzer) throw SpeechFailure::notRunning();
  analyzer->start(std::move(input));
}

}  // namespace

Co<SpeechInput::TakeRef> SpeechInput::start(Language language, std::int64_t id,
                                            std::function<bool()> wanted) {
  auto self = shared_from_this();
  std::optional<Activity<void>> previous = lastOpening_;
  GateCloser closer{Completion<void>(platform_.loop)};
  lastOpening_ = spawn(whileOpening(closer.gate), platform_.loop);
  if (previous) {
    auto waiting = settled(*previous, openingWait);
    co_await std::move(waiting);
  }
  auto opening = open(language, id, std::move(wanted));
  co_return co_await std::move(opening);
}

Co<SpeechInput::TakeRef> SpeechInput::open(Language language, std::int64_t id,
                                           std::function<bool()> wanted) {
  auto asking = microphoneAllowed();
  if (!co_await std::move(asking)) throw Failure::microphoneDenied();
  // A query that outlives the wait goes on and fills the cache for the next take.
  auto query = answered<Recognizer::Readiness>(readinessWait, readinessOf(recognizer_, language));
  const std::optional<Recognizer::Readiness> ready = co_await std::move(query);
  if (!ready) throw Failure::notRunning();
  // The audio service may be slow to answer, or frozen: that wait is off the main thread, and
  // bounded by the service.
  if (stale_) rebuild(false);
  AudioEngineRef hearer = engine();
  auto hearing = hearer->ready();
  co_await std::move(hearing);
  if (!wanted()) throw Failure::letGo();
  if (current_) {
    if (current_->id_ >= id) throw Failure::superseded();
    release(current_);
  }
  co_return attach(*ready, id);
}

SpeechInput::TakeRef SpeechInput::attach(const Recognizer::Readiness& ready, std::int64_t id) {
  MainLoop& loop = platform_.loop;
  auto take = std::make_shared<Take>(id, loop.now());
  AnalyzerInputStream stream(Buffering::newest(inputBacklog));
  auto shapers = std::make_shared<Shapers>(platform_.audio, ready.format);
  take->tap_ = tap(shapers, levels(id), stream);
  try {
    listen(*take);
  } catch (...) {
    take->tap_ = nullptr;
    stream.finish();
    throw;
  }

  take->continuation_ = stream;
  current_ = take;
  if (vocabulary) {
    take->analyzerStart_ = spawn(
        hear(take, platform_, vocabulary, partials(id), ready.locale, lastEnding_, stream), loop);
    return take;
  }
  auto analyzer = makeAnalyzer(platform_.speech, ready.locale, std::nullopt);
  take->analyzer_ = analyzer;
  if (analyzer) take->resultsTask_ = readResults(*analyzer, partials(id), take->transcript_, loop);
  take->analyzerStart_ = spawn(startAnalyzer(lastEnding_, analyzer, stream), loop);
  return take;
}

Co<void> SpeechInput::hear(std::weak_ptr<Take> weak, Platform& platform,
                           std::function<std::shared_ptr<const AppVocabulary>()> vocabulary,
                           std::shared_ptr<PartialSink> sink, std::string locale,
                           std::optional<Activity<std::string>> previousEnding,
                           AnalyzerInputStream input) {
  auto asking = onBackground(std::move(vocabulary), platform.loop);
  const std::shared_ptr<const AppVocabulary> words = co_await std::move(asking);
  if (co_await cancelled()) throw Failure::notRunning();
  std::shared_ptr<SpeechAnalyzer> analyzer;
  if (auto take = weak.lock(); take && words) {
    analyzer = makeAnalyzer(platform.speech, locale, *words);
    take->analyzer_ = analyzer;
    if (analyzer)
      take->resultsTask_ =
          readResults(*analyzer, std::move(sink), take->transcript_, platform.loop);
  }
  auto starting = startAnalyzer(std::move(previousEnding), analyzer, std::move(input));
  co_await std::move(starting);
}

}  // namespace earshot
