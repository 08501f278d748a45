#pragma once

// The speech analysis service: supported locales, the recognizer module's configuration, the
// analyzer that turns a stream of audio buffers into volatile and final results, and the asset
// inventory.

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "async/Co.hpp"
#include "async/Stream.hpp"
#include "platform/Audio.hpp"

namespace earshot {

// Words that restrict recognition to application commands: at most one command word, any number of
// filler words, then one of the names. Everything else is to be rejected, not forced onto a name.
struct AppVocabulary {
  std::vector<std::string> commandWords;
  std::vector<std::string> fillerWords;
  std::vector<std::string> names;  // plain form, as the catalog has them

  friend bool operator==(const AppVocabulary&, const AppVocabulary&) = default;
};

// A recognizer module's configuration for one locale (a value: the service makes the work).
struct SpeechTranscriber {
  enum class Reporting : unsigned { volatileResults = 1, fastResults = 2 };

  std::string locale;
  unsigned transcriptionOptions = 0;
  unsigned reportingOptions = 0;
  unsigned attributeOptions = 0;
  // When present, the module hears only these application commands; its final text is the name
  // heard (without the command and filler words), or nothing.
  std::optional<AppVocabulary> vocabulary;

  bool reports(Reporting option) const { return (reportingOptions & unsigned(option)) != 0; }
  friend bool operator==(const SpeechTranscriber&, const SpeechTranscriber&) = default;
};

// One buffer in the analyzer's format.
struct AnalyzerInput {
  PcmBufferRef buffer;
};

using AnalyzerInputStream = AsyncStream<AnalyzerInput>;

// A recognition result: volatile ones are replaced by later ones; a final one closes an utterance.
struct SpeechResult {
  std::string text;
  bool isFinal = false;
};

// One analysis over one module. Its work runs on its own worker thread; these calls may come from
// any thread.
class SpeechAnalyzer {
 public:
  enum class Priority { userInitiated, background };
  enum class ModelRetention { whileInUse, processLifetime };
  struct Options {
    Priority priority = Priority::userInitiated;
    ModelRetention modelRetention = ModelRetention::processLifetime;
  };

  virtual ~SpeechAnalyzer() = default;

  // The module's results, in order. The stream ends after the analyzer finishes; when it ended
  // with an error, `failure()` says which.
  virtual AsyncStream<SpeechResult> results() = 0;
  virtual std::exception_ptr failure() const = 0;

  // Begins reading `input` on the worker. Throws when the analyzer cannot start (it starts once).
  virtual void start(AnalyzerInputStream input) = 0;
  // Blocks until every input up to the end of the (finished) input stream is analysed and its
  // results are delivered, then ends the results. Throws PlatformError when analysis failed.
  virtual void finalizeAndFinishThroughEndOfInput() = 0;
  // Stops at once and ends the results. Never blocks on the analysis.
  virtual void cancelAndFinishNow() = 0;
};

// A request that installs a locale's missing assets.
class AssetInstallationRequest {
 public:
  virtual ~AssetInstallationRequest() = default;
  virtual Co<void> downloadAndInstall() = 0;
};

class SpeechService {
 public:
  virtual ~SpeechService() = default;

  // The supported locale that stands for `requested` ("pt_BR", "en_US"), or absent.
  virtual std::optional<std::string> supportedLocale(const std::string& requested) = 0;
  // The audio format the analyzer wants for these modules, or absent.
  virtual std::optional<AudioFormat> bestAvailableAudioFormat(
      const std::vector<SpeechTranscriber>& modules) = 0;
  // The same two questions for callers on the main loop: a service whose answers take time
  // suspends here instead of blocking the loop. By default they answer at once.
  virtual Co<std::optional<std::string>> supportedLocaleLater(std::string requested) {
    co_return supportedLocale(requested);
  }
  virtual Co<std::optional<AudioFormat>> bestAvailableAudioFormatLater(
      std::vector<SpeechTranscriber> modules) {
    co_return bestAvailableAudioFormat(modules);
  }
  // The supported locale in which application commands (a module with a vocabulary) can be
  // heard, which may be one where free speech cannot. By default the same as supportedLocale.
  virtual std::optional<std::string> supportedCommandLocale(const std::string& requested) {
    return supportedLocale(requested);
  }
  virtual Co<std::optional<std::string>> supportedCommandLocaleLater(std::string requested) {
    co_return supportedCommandLocale(requested);
  }
  // Keeps the locale's model resident for this process. Never blocks; the result is advisory.
  virtual bool reserve(const std::string& locale) = 0;
  // A request when assets are missing, else absent. Throws PlatformError.
  virtual std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
      const std::vector<SpeechTranscriber>& modules) = 0;
  // An analyzer over one module (the first of `modules`).
  virtual std::shared_ptr<SpeechAnalyzer> makeAnalyzer(
      const std::vector<SpeechTranscriber>& modules, SpeechAnalyzer::Options options) = 0;
};

}  // namespace earshot
