#include "support/FakeSpeech.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/PlatformError.hpp"

namespace earshot::testing {

FakeAnalyzer::~FakeAnalyzer() {
  // Nobody will finish the input of an analyzer that goes away.
  if (input_) input_->finish();
  if (worker_.joinable()) worker_.join();
}

void FakeAnalyzer::start(AnalyzerInputStream input) {
  if (refuseStart) throw PlatformError("fake", 1, "The analyzer refused to start.");
  started_ = true;
  input_ = input;
  worker_ = std::thread([this, input]() mutable {
    std::size_t delivered = 0;
    for (;;) {
      if (slow) {
        while (!input.writerWaiting() && !input.finished())
          std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
      const std::size_t queued = input.size();
      auto item = input.pop();
      if (!item) break;
      {
        std::lock_guard guard(lock_);
        mostQueued_ = std::max(mostQueued_, queued);
        ++inputs_;
        frames_ += item->buffer->frameLength();
        formats_.push_back(item->buffer->format());
        if (stopAfter > 0 && inputs_ == stopAfter) {
          input.finish();
          break;
        }
      }
      if (delivered < live.size() && !cancelled_) results_.yield(live[delivered++]);
    }
    if (!cancelled_)
      for (const auto& result : script) results_.yield(result);
    results_.finish();
    std::lock_guard guard(lock_);
    done_ = true;
    changed_.notify_all();
  });
}

void FakeAnalyzer::finalizeAndFinishThroughEndOfInput() {
  std::unique_lock guard(lock_);
  if (neverFinish) {
    changed_.wait(guard, [&] { return cancelled_.load(); });
    return;
  }
  if (!started_) {
    results_.finish();
    return;
  }
  changed_.wait(guard, [&] { return done_; });
}

void FakeAnalyzer::cancelAndFinishNow() {
  {
    std::lock_guard guard(lock_);
    cancelled_ = true;
  }
  changed_.notify_all();
  results_.finish();
}

std::size_t FakeAnalyzer::inputs() const {
  std::lock_guard guard(lock_);
  return inputs_;
}
std::size_t FakeAnalyzer::frames() const {
  std::lock_guard guard(lock_);
  return frames_;
}
std::size_t FakeAnalyzer::mostQueued() const {
  std::lock_guard guard(lock_);
  return mostQueued_;
}
std::vector<AudioFormat> FakeAnalyzer::formats() const {
  std::lock_guard guard(lock_);
  return formats_;
}

Co<void> FakeSpeechService::Request::downloadAndInstall() {
  owner_.record("install");
  if (owner_.installError) std::rethrow_exception(owner_.installError);
  owner_.needsInstallation = false;
  co_return;
}

std::vector<std::string> FakeSpeechService::calls() const {
  std::lock_guard guard(lock_);
  return calls_;
}

void FakeSpeechService::record(std::string call) {
  std::lock_guard guard(lock_);
  calls_.push_back(std::move(call));
}

std::optional<std::string> FakeSpeechService::supportedLocale(const std::string& requested) {
  record("supportedLocale " + requested);
  if (!supported.count(requested)) return std::nullopt;
  return requested;
}

std::optional<std::string> FakeSpeechService::supportedCommandLocale(const std::string& requested) {
  record("supportedCommandLocale " + requested);
  if (!supported.count(requested) && !commandsOnly.count(requested)) return std::nullopt;
  return requested;
}

std::optional<AudioFormat> FakeSpeechService::bestAvailableAudioFormat(
    const std::vector<SpeechTranscriber>& modules) {
  record("format " + (modules.empty() ? std::string() : modules.front().locale));
  lastModules = modules;
  return format;
}

Co<std::optional<std::string>> FakeSpeechService::supportedLocaleLater(std::string requested) {
  if (answerDelay > 0) co_await sleep(seconds(answerDelay));
  co_return supportedLocale(requested);
}

Co<std::optional<AudioFormat>> FakeSpeechService::bestAvailableAudioFormatLater(
    std::vector<SpeechTranscriber> modules) {
  if (answerDelay > 0) co_await sleep(seconds(answerDelay));
  co_return bestAvailableAudioFormat(modules);
}

bool FakeSpeechService::reserve(const std::string& locale) {
  record("reserve " + locale);
  if (reserveFails) throw PlatformError("fake", 2, "The reservation failed.");
  return true;
}

std::unique_ptr<AssetInstallationRequest> FakeSpeechService::assetInstallationRequest(
    const std::vector<SpeechTranscriber>&) {
  record("request");
  if (requestError) std::rethrow_exception(requestError);
  if (!needsInstallation) return nullptr;
  return std::make_unique<Request>(*this);
}

std::shared_ptr<SpeechAnalyzer> FakeSpeechService::makeAnalyzer(
    const std::vector<SpeechTranscriber>& modules, SpeechAnalyzer::Options) {
  record("analyzer " + (modules.empty() ? std::string() : modules.front().locale));
  analyzerModules = modules;
  auto analyzer = nextAnalyzer ? nextAnalyzer : std::make_shared<FakeAnalyzer>();
  nextAnalyzer = nullptr;
  return analyzer;
}

}  // namespace earshot::testing
