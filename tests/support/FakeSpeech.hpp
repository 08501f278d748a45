#pragma once

// A scripted speech analysis service for tests: locales, formats and asset requests as the test
// sets them, and analyzers that record their input and deliver scripted results.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Speech.hpp"

namespace earshot::testing {

class FakeAnalyzer final : public SpeechAnalyzer {
 public:
  // Delivered, in order, once the input has ended.
  std::vector<SpeechResult> script;
  // Delivered one per input buffer while the input arrives, as a live recognizer streams them.
  std::vector<SpeechResult> live;
  bool refuseStart = false;
  // finalizeAndFinishThroughEndOfInput returns only once cancelled.
  bool neverFinish = false;
  // Takes an input only when the writer waits for room or has finished: the slowest reader.
  bool slow = false;
  // Stops reading after this many inputs and finishes its input, as a failed analysis does.
  std::size_t stopAfter = 0;

  ~FakeAnalyzer() override;

  AsyncStream<SpeechResult> results() override { return results_; }
  // What failure() reports once the analysis has ended (a model that never loaded, say).
  std::exception_ptr failWith;

  std::exception_ptr failure() const override { return failWith; }
  void start(AnalyzerInputStream input) override;
  void finalizeAndFinishThroughEndOfInput() override;
  void cancelAndFinishNow() override;

  bool started() const { return started_; }
  bool wasCancelled() const { return cancelled_; }
  std::size_t inputs() const;
  std::size_t frames() const;
  std::vector<AudioFormat> formats() const;
  // The most inputs that waited in the stream at once.
  std::size_t mostQueued() const;

 private:
  AsyncStream<SpeechResult> results_;
  std::atomic<bool> started_{false};
  std::atomic<bool> cancelled_{false};
  std::optional<AnalyzerInputStream> input_;
  std::thread worker_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
  std::size_t inputs_ = 0, frames_ = 0, mostQueued_ = 0;
  std::vector<AudioFormat> formats_;
};

class FakeSpeechService final : public SpeechService {
 public:
  class Request final : public AssetInstallationRequest {
   public:
    explicit Request(FakeSpeechService& owner) : owner_(owner) {}
    Co<void> downloadAndInstall() override;

   private:
    FakeSpeechService& owner_;
  };

  std::set<std::string> supported{"en_US"};
  // Locales whose application commands can be heard though free speech cannot.
  std::set<std::string> commandsOnly;
  std::optional<AudioFormat> format = AudioFormat::make(16000, 1);
  bool reserveFails = false;
  bool needsInstallation = false;
  std::exception_ptr requestError;
  std::exception_ptr installError;
  // How long the loop-side readiness questions take, in loop time.
  double answerDelay = 0;
  // The analyzer handed out next (a fresh one when empty).
  std::shared_ptr<FakeAnalyzer> nextAnalyzer;

  // Every call, in order: "supportedLocale pt_BR", "format en_US", "reserve en_US", "request",
  // "install", "analyzer en_US".
  std::vector<std::string> calls() const;

  std::optional<std::string> supportedLocale(const std::string& requested) override;
  std::optional<std::string> supportedCommandLocale(const std::string& requested) override;
  std::optional<AudioFormat> bestAvailableAudioFormat(
      const std::vector<SpeechTranscriber>& modules) override;
  Co<std::optional<std::string>> supportedLocaleLater(std::string requested) override;
  Co<std::optional<AudioFormat>> bestAvailableAudioFormatLater(
      std::vector<SpeechTranscriber> modules) override;
  bool reserve(const std::string& locale) override;
  std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
      const std::vector<SpeechTranscriber>& modules) override;
  std::shared_ptr<SpeechAnalyzer> makeAnalyzer(const std::vector<SpeechTranscriber>& modules,
                                               SpeechAnalyzer::Options options) override;

  std::vector<SpeechTranscriber> lastModules;
  // The modules of the last analyzer made.
  std::vector<SpeechTranscriber> analyzerModules;

 private:
  void record(std::string call);
  mutable std::mutex lock_;
  std::vector<std::string> calls_;
};

}  // namespace earshot::testing
