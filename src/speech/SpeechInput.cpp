#include "speech/SpeechInput.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <thread>

#include "async/MainLoop.hpp"
#include "platform/PlatformError.hpp"

namespace earshot {

namespace {

constexpr std::uint32_t bufferFrames = 2048;
constexpr double silenceSeconds = 0.3;
constexpr double microphoneRate = 48000;

std::map<Language, SpeechInput::Readiness>& ready() {
  static std::map<Language, SpeechInput::Readiness> cache;
  return cache;
}

SpeechService& speechService() {
  SpeechService* service = speechServices().speech;
  if (!service) throw SpeechFailure::notRunning();
  return *service;
}

AudioToolkit& audioToolkit() {
  AudioToolkit* audio = speechServices().audio;
  if (!audio) throw SpeechFailure::notRunning();
  return *audio;
}

// A frame count that fits the buffers of this system, or absent.
std::optional<std::uint32_t> frameCount(double frames) {
  if (!std::isfinite(frames) || frames < 0 ||
      frames >= static_cast<double>(std::numeric_limits<std::uint32_t>::max()) + 1.0)
    return std::nullopt;
  return static_cast<std::uint32_t>(frames);
}

}  // namespace

std::string SpeechInput::locale(Language language) {
  return language == Language::english ? "en_US" : "pt_BR";
}

SpeechTranscriber SpeechInput::makeTranscriber(const std::string& locale) {
  SpeechTranscriber transcriber;
  transcriber.locale = locale;
  transcriber.reportingOptions = unsigned(SpeechTranscriber::Reporting::volatileResults) |
                                 unsigned(SpeechTranscriber::Reporting::fastResults);
  return transcriber;
}

Co<SpeechInput::Readiness> SpeechInput::readiness(Language language) {
  if (auto found = ready().find(language); found != ready().end()) co_return found->second;
  const std::string requested = locale(language);
  SpeechService& service = speechService();
  auto supported = co_await service.supportedLocaleLater(requested);
  if (!supported) throw Failure::localeUnsupported(requested);
  std::vector<SpeechTranscriber> modules{makeTranscriber(*supported)};
  auto format = co_await service.bestAvailableAudioFormatLater(std::move(modules));
  if (!format) throw Failure::notRunning();
  Readiness pair{*supported, *format};
  ready()[language] = pair;
  co_return pair;
}

Co<void> SpeechInput::prepare(Language language) {
  const std::string requested = locale(language);
  SpeechService& service = speechService();
  auto supported = co_await service.supportedLocaleLater(requested);
  if (!supported) throw Failure::localeUnsupported(requested);
  try {
    service.reserve(*supported);
  } catch (...) {
    // A reservation only keeps the model warm; preparation goes on without it.
  }
  auto request = service.assetInstallationRequest({makeTranscriber(*supported)});
  if (request) co_await request->downloadAndInstall();
  co_await readiness(language);
}

void SpeechInput::forgetReadiness() {
  ready().clear();
}

PcmBufferRef SpeechInput::convert(const PcmBuffer& buffer, AudioConverter& converter,
                                  const AudioFormat& format) {
  const double rate = buffer.format().sampleRate;
  if (!(rate > 0)) return nullptr;
  auto capacity = frameCount(format.sampleRate / rate * buffer.frameLength() + 64);
  if (!capacity) return nullptr;
  auto out = PcmBuffer::make(format, *capacity);
  if (!out) return nullptr;
  bool handed = false;
  std::string error;
  auto status = converter.convert(*out, error, [&](AudioConverter::InputStatus& input) {
    if (handed) {
      input = AudioConverter::InputStatus::noDataNow;
      return static_cast<const PcmBuffer*>(nullptr);
    }
    handed = true;
    input = AudioConverter::InputStatus::haveData;
    return &buffer;
  });
  if (status == AudioConverter::OutputStatus::error || out->frameLength() == 0) return nullptr;
  return out;
}

SpeechInput::CaptureCallback SpeechInput::tap(std::shared_ptr<Shapers> shapers,
                                              std::shared_ptr<LevelSink> level,
                                              AnalyzerInputStream into) {
  return [shapers, level, into](const PcmBufferRef& buffer, std::uint64_t) mutable {
    if (!buffer) return;
    auto shaper = shapers->shaper(buffer->format());
    if (!shaper) return;
    auto mono = shaper->mono(*buffer);
    if (!mono) return;
    level->consume(*mono);
    auto converted = convert(*mono, shaper->converter(), shaper->output());
    if (!converted) return;
    into.yield(AnalyzerInput{std::move(converted)});
  };
}

std::shared_ptr<LevelSink> SpeechInput::levels(std::int64_t id, std::weak_ptr<SpeechInput> speech) {
  MainLoop* loop = &MainLoop::current();
  // The throttle reads the loop's clock, so that virtual time drives it in tests too.
  return std::make_shared<LevelSink>(
      [loop, id, speech](float value) {
        loop->post([id, speech, value] {
          auto input = speech.lock();
          if (input && input->onLevel) input->onLevel(id, value);
        });
      },
      [loop] { return loop->now(); });
}

std::shared_ptr<PartialSink> SpeechInput::partials(std::int64_t id,
                                                   std::weak_ptr<SpeechInput> speech) {
  MainLoop* loop = &MainLoop::current();
  return std::make_shared<PartialSink>([loop, id, speech](const std::string& text) {
    loop->post([id, speech, text] {
      auto input = speech.lock();
      if (input && input->onPartial) input->onPartial(id, text);
    });
  });
}

std::optional<AudioFormat> SpeechInput::microphoneLike(std::uint32_t channels) {
  return AudioFormat::discreteInOrder(microphoneRate, channels);
}

std::vector<PcmBufferRef> SpeechInput::microphoneBuffers(const std::string& path,
                                                         const AudioFormat& format) {
  AudioToolkit& audio = audioToolkit();
  auto file = audio.openForReading(path);
  const AudioFormat& source = file->processingFormat();
  auto length = frameCount(static_cast<double>(file->length()));
  if (!length) throw Failure::notRunning();
  auto decoded = PcmBuffer::make(source, *length);
  if (!decoded) throw Failure::notRunning();
  auto monoFormat = AudioFormat::make(format.sampleRate, 1, false);
  if (!monoFormat) throw Failure::notRunning();
  auto converter = audio.makeConverter(source, *monoFormat);
  if (!converter) throw Failure::notRunning();
  file->read(*decoded);

  auto monoCapacity =
      frameCount(std::trunc(format.sampleRate * decoded->frameLength() / source.sampleRate) + 4096);
  if (!monoCapacity) throw Failure::notRunning();
  auto mono = PcmBuffer::make(*monoFormat, *monoCapacity);
  if (!mono || mono->floatChannelData().empty()) throw Failure::notRunning();

  // The whole file in one call, flushed at the end of the stream.
  bool handed = false;
  std::string error;
  auto status = converter->convert(*mono, error, [&](AudioConverter::InputStatus& input) {
    if (handed) {
      input = AudioConverter::InputStatus::endOfStream;
      return static_cast<const PcmBuffer*>(nullptr);
    }
    handed = true;
    input = AudioConverter::InputStatus::haveData;
    return static_cast<const PcmBuffer*>(decoded.get());
  });
  if (status == AudioConverter::OutputStatus::error) throw PlatformError("soxr", 1, error);

  auto padFrames = frameCount(std::trunc(format.sampleRate * silenceSeconds));
  if (!padFrames) throw Failure::notRunning();
  const std::uint64_t pad = *padFrames;
  const std::uint64_t n = mono->frameLength();
  const std::uint64_t total = pad + n + pad;
  const float* samples = mono->floatChannelData()[0];

  std::vector<PcmBufferRef> buffers;
  for (std::uint64_t start = 0; start < total; start += bufferFrames) {
    auto buffer = PcmBuffer::make(format, bufferFrames);
    if (!buffer || buffer->floatChannelData().empty()) throw Failure::notRunning();
    const auto count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(bufferFrames, total - start));
    buffer->setFrameLength(count);
    const auto& channels = buffer->floatChannelData();
    const std::uint32_t width = format.channelCount;
    for (std::uint32_t j = 0; j < count; ++j) {
      const std::uint64_t index = start + j;
      const float v = index >= pad && index - pad < n ? samples[index - pad] : 0.0f;
      for (std::uint32_t c = 0; c < width; ++c) {
        if (format.interleaved)
          channels[0][std::size_t{j} * width + c] = v;
        else
          channels[c][j] = v;
      }
    }
    buffers.push_back(std::move(buffer));
  }
  return buffers;
}

std::string SpeechInput::transcribeLikeMicrophone(const std::string& path, Language language,
                                                  std::uint32_t channels) {
  const std::string requested = locale(language);
  SpeechService& service = speechService();
  auto supported = service.supportedLocale(requested);
  if (!supported) throw Failure::localeUnsupported(requested);
  const SpeechTranscriber transcriber = makeTranscriber(*supported);
  auto analyzer = service.makeAnalyzer(
      {transcriber},
      {SpeechAnalyzer::Priority::userInitiated, SpeechAnalyzer::ModelRetention::processLifetime});
  if (!analyzer) throw Failure::notRunning();
  auto format = service.bestAvailableAudioFormat({transcriber});
  if (!format) throw Failure::notRunning();
  auto mic = microphoneLike(channels);
  if (!mic) throw Failure::notRunning();
  auto shaper = MicrophoneShaper::make(*mic, *format);
  if (!shaper) throw Failure::notRunning();
  auto buffers = microphoneBuffers(path, *mic);

  AnalyzerInputStream stream(Buffering::unbounded());
  auto box = std::make_shared<TranscriptBox>();
  std::thread reader([results = analyzer->results(), box]() mutable {
    while (auto result = results.pop()) box->update(result->text, result->isFinal);
  });
  try {
    for (const auto& buffer : buffers) {
      auto mono = shaper->mono(*buffer);
      if (!mono) continue;
      auto converted = convert(*mono, shaper->converter(), shaper->output());
      if (!converted) continue;
      stream.yield(AnalyzerInput{std::move(converted)});
    }
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
