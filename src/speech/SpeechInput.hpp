#pragma once

// The speech input: recognizer preparation, the capture path's pieces and file transcription.
// Takes come on top of this.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "async/Co.hpp"
#include "core/Language.hpp"
#include "platform/Audio.hpp"
#include "platform/Speech.hpp"
#include "speech/Failure.hpp"
#include "speech/Shaping.hpp"
#include "speech/TranscriptBox.hpp"

namespace earshot {

class SpeechInput {
 public:
  using Failure = SpeechFailure;
  // Runs on the capture thread for every captured buffer; the time stamp is not used.
  using CaptureCallback = std::function<void(const PcmBufferRef& buffer, std::uint64_t timeStamp)>;

  // What a take needs to know about the recognizer for one language.
  struct Readiness {
    std::string locale;
    AudioFormat format;
  };

  // Set by the user; called on the main thread.
  std::function<void(std::int64_t id, const std::string& text)> onPartial;
  std::function<void(std::int64_t id, float level)> onLevel;

  // --- Recognizer preparation (main thread) ---

  // "pt_BR" or "en_US".
  static std::string locale(Language language);
  // The one configuration this system uses: volatile and fast results, no other options.
  static SpeechTranscriber makeTranscriber(const std::string& locale);
  // The locale and analyzer format for a language, cached for the process after the first success.
  // Fails with localeUnsupported or notRunning.
  static Co<Readiness> readiness(Language language);
  // Reserves the language's model (keeping it resident), installs missing assets, then checks
  // readiness.
  static Co<void> prepare(Language language);
  // For tests: empties the readiness cache.
  static void forgetReadiness();

  // --- The capture path ---

  // One buffer through `converter` into `format`, keeping the converter's history for the next
  // buffer. Absent when nothing came out (yet) or the conversion failed.
  static PcmBufferRef convert(const PcmBuffer& buffer, AudioConverter& converter,
                              const AudioFormat& format);
  // The capture callback: shape, meter, convert and queue each buffer for the analyzer.
  static CaptureCallback tap(std::shared_ptr<Shapers> shapers, std::shared_ptr<LevelSink> level,
                             AnalyzerInputStream into);
  // Sinks that carry values for take `id` to the main thread, into `speech`'s callbacks while it
  // exists.
  static std::shared_ptr<LevelSink> levels(std::int64_t id, std::weak_ptr<SpeechInput> speech);
  static std::shared_ptr<PartialSink> partials(std::int64_t id, std::weak_ptr<SpeechInput> speech);

  // --- File transcription (any thread but the main one) ---

  // 32-bit float, 48 kHz, not interleaved, discrete-in-order layout with `channels` channels.
  static std::optional<AudioFormat> microphoneLike(std::uint32_t channels);
  // The file decoded, reduced to one channel at `format`'s rate, framed by 0.3 s of silence, cut
  // into 2048-frame buffers whose every channel carries the same samples.
  static std::vector<PcmBufferRef> microphoneBuffers(const std::string& path,
                                                     const AudioFormat& format);
  // The file's transcript through the microphone path, trimmed. Blocks the calling thread.
  static std::string transcribeLikeMicrophone(const std::string& path, Language language,
                                              std::uint32_t channels = 3);
};

}  // namespace earshot
