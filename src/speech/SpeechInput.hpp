#pragma once

// The speech input: the recognizer it prepares, and the capture path's pieces. Takes, the engine
// and the endings come on top of this.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "async/Co.hpp"
#include "core/Language.hpp"
#include "platform/Capture.hpp"
#include "platform/Platform.hpp"
#include "platform/Speech.hpp"
#include "speech/Failure.hpp"
#include "speech/Recognizer.hpp"
#include "speech/Shaping.hpp"

namespace earshot {

class SpeechInput;

// Readies the recognizer for `language` ahead of the first take; a failure is left to the take.
Co<void> prepareQuietly(std::shared_ptr<SpeechInput> speech, Language language);

class SpeechInput : public std::enable_shared_from_this<SpeechInput> {
 public:
  using Failure = SpeechFailure;
  // Runs on the capture thread for every captured buffer; the time stamp is not used.
  using CaptureCallback = AudioEngine::Tap;

  // Made with std::make_shared: the sinks reach it through a weak reference.
  explicit SpeechInput(Platform& platform) : platform_(platform), recognizer_(platform.speech) {}

  // Set by the user; called on the main thread.
  std::function<void(std::int64_t id, const std::string& text)> onPartial;
  std::function<void(std::int64_t id, float level)> onLevel;
  // When set, takes hear only the application commands it gives. It is asked off the main thread
  // as a take opens (it may scan the catalog), while capture already runs.
  std::function<std::shared_ptr<const AppVocabulary>()> vocabulary;

  Recognizer& recognizer() { return recognizer_; }

  // The capture callback: shape, meter, convert and queue each buffer for the analyzer.
  static CaptureCallback tap(std::shared_ptr<Shapers> shapers, std::shared_ptr<LevelSink> level,
                             AnalyzerInputStream into);
  // Sinks that carry values for take `id` to the main loop, into this input's callbacks while it
  // exists.
  std::shared_ptr<LevelSink> levels(std::int64_t id);
  std::shared_ptr<PartialSink> partials(std::int64_t id);

  // --- Microphone (Microphone.cpp) ---
  class Take;
  using TakeRef = std::shared_ptr<Take>;

  // True when allowed; may ask the user once.
  Co<bool> microphoneAllowed();
  // The permission is still undecided; never asks.
  bool microphoneUndecided() const;
  // Installs the device listeners once; readies the input when the permission is granted.
  void warmUp();

  // --- Takes (Takes.cpp, Endings.cpp) ---

  // Opens a take that captures at once. Fails with a Failure or the engine's own error.
  Co<TakeRef> start(Language language, std::int64_t id, std::function<bool()> wanted);
  // The take's final transcript, within about 8 s whatever the analyzer does. Never fails.
  Co<std::string> finish(TakeRef take);
  // Throws the take away at once.
  void cancel(TakeRef take);
  bool isRunning() const { return current_ != nullptr; }

 private:
  void watchDevices();
  void inputChanged();
  void settle();
  // Moves a capturing take to a new engine once the audio service has answered for it.
  Co<void> move(TakeRef take);
  bool tryListen(Take& take);
  // `warm`: the new engine asks the audio service ahead of its first take.
  void rebuild(bool warm = true);
  void listen(Take& take);
  Co<TakeRef> open(Language language, std::int64_t id, std::function<bool()> wanted);
  // Capture, the analyzer and its reader for a take that may open now.
  TakeRef attach(const Recognizer::Readiness& ready, std::int64_t id);
  // The analyzer of a take that waits for its vocabulary.
  static Co<void> hear(std::weak_ptr<Take> weak, Platform& platform,
                       std::function<std::shared_ptr<const AppVocabulary>()> vocabulary,
                       std::shared_ptr<PartialSink> sink, std::string locale,
                       std::optional<Activity<std::string>> previousEnding,
                       AnalyzerInputStream input);
  static Co<std::string> ending(TakeRef take, MainLoop& loop);
  void release(TakeRef take);
  void stopCapture(TakeRef take);
  // The engine, made on first use.
  AudioEngineRef& engine();

  AudioEngineRef engine_;
  TakeRef current_;
  std::optional<Activity<std::string>> lastEnding_;
  std::optional<Activity<void>> lastOpening_;
  bool stale_ = false;
  bool watching_ = false;
  bool settling_ = false;
  // A move waits for the audio service.
  bool moving_ = false;
  Platform& platform_;
  Recognizer recognizer_;
};

}  // namespace earshot
