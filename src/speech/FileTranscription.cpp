#include "speech/FileTranscription.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>

#include "platform/PlatformError.hpp"
#include "speech/Failure.hpp"
#include "speech/Recognizer.hpp"
#include "speech/Shaping.hpp"
#include "speech/SpeechInput.hpp"
#include "speech/TranscriptBox.hpp"

namespace earshot {

namespace {

constexpr std::uint32_t bufferFrames = 2048;
constexpr double silenceSeconds = 0.3;
constexpr double microphoneRate = 48000;

// A frame count that fits the buffers of this system; notRunning otherwise.
std::uint32_t frameCount(double frames) {
  if (!std::isfinite(frames) || frames < 0 ||
      frames >= static_cast<double>(std::numeric_limits<std::uint32_t>::max()) + 1.0)
    throw SpeechFailure::notRunning();
  return static_cast<std::uint32_t>(frames);
}

PcmBufferRef buffer(const AudioFormat& format, std::uint32_t frames) {
  auto made = PcmBuffer::make(format, frames);
  if (!made) throw SpeechFailure::notRunning();
  return made;
}

}  // namespace

std::optional<AudioFormat> microphoneLike(std::uint32_t channels) {
  return AudioFormat::discreteInOrder(microphoneRate, channels);
}

std::vector<PcmBufferRef> microphoneBuffers(AudioToolkit& audio, const std::string& path,
                                            const AudioFormat& format) {
  auto file = audio.openForReading(path);
  const AudioFormat& source = file->processingFormat();
  auto decoded = buffer(source, frameCount(static_cast<double>(file->length())));
  auto monoFormat = AudioFormat::make(format.sampleRate, 1, false);
  if (!monoFormat) throw SpeechFailure::notRunning();
  auto converter = audio.makeConverter(source, *monoFormat);
  if (!converter) throw SpeechFailure::notRunning();
  file->read(*decoded);

  auto mono =
      buffer(*monoFormat,
             frameCount(std::trunc(format.sampleRate * decoded->frameLength() / source.sampleRate) +
                        4096));
  // The whole file in one call, flushed at the end of the stream.
  std::string error;
  auto status = converter->convert(*mono, error,
                                   handOver(*decoded, AudioConverter::InputStatus::endOfStream));
  if (status == AudioConverter::OutputStatus::error) throw PlatformError("soxr", 1, error);

  const std::uint64_t pad = frameCount(std::trunc(format.sampleRate * silenceSeconds));
  const std::uint64_t n = mono->frameLength();
  const std::uint64_t total = pad + n + pad;

  std::vector<PcmBufferRef> buffers;
  for (std::uint64_t start = 0; start < total; start += bufferFrames) {
    auto piece = buffer(format, bufferFrames);
    const auto count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(bufferFrames, total - start));
    piece->setFrameLength(count);
    for (std::uint32_t j = 0; j < count; ++j) {
      const std::uint64_t index = start + j;
      const float v = index >= pad && index - pad < n
                          ? mono->sample(static_cast<std::uint32_t>(index - pad), 0)
                          : 0.0f;
      for (std::uint32_t c = 0; c < format.channelCount; ++c) piece->setSample(j, c, v);
    }
    buffers.push_back(std::move(piece));
  }
  return buffers;
}

std::string transcribeLikeMicrophone(AudioToolkit& audio, SpeechService& speech,
                                     const std::string& path, Language language,
                                     std::uint32_t channels,
                                     std::optional<AppVocabulary> vocabulary) {
  const std::string requested = Recognizer::locale(language);
  auto supported = speech.supportedLocale(requested);
  if (!supported) throw SpeechFailure::localeUnsupported(requested);
  const SpeechTranscriber transcriber =
      Recognizer::makeTranscriber(*supported, std::move(vocabulary));
  auto analyzer = speech.makeAnalyzer(
      {transcriber},
      {SpeechAnalyzer::Priority::userInitiated, SpeechAnalyzer::ModelRetention::processLifetime});
  if (!analyzer) throw SpeechFailure::notRunning();
  auto format = speech.bestAvailableAudioFormat({transcriber});
  if (!format) throw SpeechFailure::notRunning();
  auto mic = microphoneLike(channels);
  if (!mic) throw SpeechFailure::notRunning();
  auto shapers = std::make_shared<Shapers>(audio, *format);
  if (!shapers->shaper(*mic)) throw SpeechFailure::notRunning();
  auto buffers = microphoneBuffers(audio, path, *mic);

  AnalyzerInputStream stream(Buffering::unbounded());
  // Nobody shows the file's levels.
  auto tap = SpeechInput::tap(shapers, std::make_shared<LevelSink>([](float) {}), stream);
  auto box = std::make_shared<TranscriptBox>();
  std::thread reader([results = analyzer->results(), box]() mutable {
    while (auto result = results.pop()) box->update(result->text, result->isFinal);
  });
  try {
    for (const auto& piece : buffers) tap(piece, 0);
    buffers.clear();
    analyzer->start(stream);
    stream.finish();
    analyzer->finalizeAndFinishThroughEndOfInput();
  } catch (...) {
    reader.detach();  // it holds its own references; the caller ends the process
    throw;
  }
  reader.join();
  return box->text();
}

}  // namespace earshot
