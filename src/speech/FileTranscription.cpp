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

MicrophoneFeed::MicrophoneFeed(AudioToolkit& audio, const std::string& path,
                               const AudioFormat& format, std::uint32_t pieceFrames)
    : format_(format), file_(audio.openForReading(path)) {
  const AudioFormat& source = file_->processingFormat();
  auto monoFormat = AudioFormat::make(format.sampleRate, 1, false);
  if (!monoFormat) throw SpeechFailure::notRunning();
  converter_ = audio.makeConverter(source, *monoFormat);
  if (!converter_) throw SpeechFailure::notRunning();
  piece_ = buffer(source, std::max<std::uint32_t>(pieceFrames, 1));
  mono_ = buffer(*monoFormat, 4 * bufferFrames);
  leading_ = trailing_ = frameCount(std::trunc(format.sampleRate * silenceSeconds));
}

const PcmBuffer* MicrophoneFeed::nextPiece(AudioConverter::InputStatus& status) {
  if (!fileEnded_) {
    file_->read(*piece_);
    fileEnded_ = piece_->frameLength() == 0;
  }
  status =
      fileEnded_ ? AudioConverter::InputStatus::endOfStream : AudioConverter::InputStatus::haveData;
  return fileEnded_ ? nullptr : piece_.get();
}

void MicrophoneFeed::refill() {
  std::string error;
  const auto status = converter_->convert(
      *mono_, error, [this](AudioConverter::InputStatus& input) { return nextPiece(input); });
  if (status == AudioConverter::OutputStatus::error) throw PlatformError("soxr", 1, error);
  // Only a flushed converter returns short of a full buffer here: it never hears "no data now".
  converted_ = status != AudioConverter::OutputStatus::haveData;
  position_ = 0;
}

PcmBufferRef MicrophoneFeed::next() {
  auto out = buffer(format_, bufferFrames);
  const std::uint32_t channels = format_.channelCount;
  std::uint32_t filled = 0;
  const auto silence = [&](std::uint64_t& left) {
    const auto count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(left, bufferFrames - filled));
    for (std::uint32_t j = filled; j < filled + count; ++j)
      for (std::uint32_t c = 0; c < channels; ++c) out->setSample(j, c, 0.0f);
    left -= count;
    filled += count;
  };
  while (filled < bufferFrames) {
    if (leading_ > 0) {
      silence(leading_);
    } else if (position_ < mono_->frameLength()) {
      const std::uint32_t count = std::min(mono_->frameLength() - position_, bufferFrames - filled);
      for (std::uint32_t j = 0; j < count; ++j) {
        const float v = mono_->sample(position_ + j, 0);
        for (std::uint32_t c = 0; c < channels; ++c) out->setSample(filled + j, c, v);
      }
      position_ += count;
      filled += count;
    } else if (!converted_) {
      refill();
    } else if (trailing_ > 0) {
      silence(trailing_);
    } else {
      break;
    }
  }
  if (filled == 0) return nullptr;
  out->setFrameLength(filled);
  return out;
}

std::vector<PcmBufferRef> microphoneBuffers(AudioToolkit& audio, const std::string& path,
                                            const AudioFormat& format, std::uint32_t pieceFrames) {
  MicrophoneFeed feed(audio, path, format, pieceFrames);
  std::vector<PcmBufferRef> buffers;
  while (auto piece = feed.next()) buffers.push_back(std::move(piece));
  return buffers;
}

std::string transcribeLikeMicrophone(AudioToolkit& audio, SpeechService& speech,
                                     const std::string& path, Language language,
                                     std::uint32_t channels, std::uint32_t pieceFrames,
                                     std::optional<AppVocabulary> vocabulary) {
  const std::string requested = Recognizer::locale(language);
  auto supported =
      vocabulary ? speech.supportedCommandLocale(requested) : speech.supportedLocale(requested);
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
  MicrophoneFeed feed(audio, path, *mic, pieceFrames);

  AnalyzerInputStream stream(Buffering::bounded(fileInputBacklog));
  // Nobody shows the file's levels.
  auto tap = SpeechInput::tap(shapers, std::make_shared<LevelSink>([](float) {}), stream);
  auto box = std::make_shared<TranscriptBox>();
  std::thread reader([results = analyzer->results(), box]() mutable {
    while (auto result = results.pop()) box->update(result->text, result->isFinal);
  });
  try {
    analyzer->start(stream);
    // An analyzer that stops reading (it failed) finishes its input, which ends the feeding.
    while (auto piece = feed.next()) {
      tap(piece, 0);
      if (stream.finished()) break;
    }
    stream.finish();
    analyzer->finalizeAndFinishThroughEndOfInput();
  } catch (...) {
    // A file that fails half-way leaves a started analyzer behind.
    analyzer->cancelAndFinishNow();
    stream.finish();
    reader.detach();  // it holds its own references; the caller ends the process
    throw;
  }
  reader.join();
  return box->text();
}

}  // namespace earshot
