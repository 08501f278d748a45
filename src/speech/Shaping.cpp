#include "speech/Shaping.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace earshot {

namespace {

// A frame count that fits the buffers of this system, or absent.
std::optional<std::uint32_t> frameCount(double frames) {
  if (!std::isfinite(frames) || frames < 0 ||
      frames >= static_cast<double>(std::numeric_limits<std::uint32_t>::max()) + 1.0)
    return std::nullopt;
  return static_cast<std::uint32_t>(frames);
}

}  // namespace

AudioConverter::InputBlock handOver(const PcmBuffer& buffer, AudioConverter::InputStatus after) {
  return [&buffer, after, handed = false](AudioConverter::InputStatus& input) mutable {
    if (handed) {
      input = after;
      return static_cast<const PcmBuffer*>(nullptr);
    }
    handed = true;
    input = AudioConverter::InputStatus::haveData;
    return &buffer;
  };
}

PcmBufferRef convert(const PcmBuffer& buffer, AudioConverter& converter,
                     const AudioFormat& format) {
  const double rate = buffer.format().sampleRate;
  if (!(rate > 0)) return nullptr;
  auto capacity = frameCount(format.sampleRate / rate * buffer.frameLength() + 64);
  if (!capacity) return nullptr;
  auto out = PcmBuffer::make(format, *capacity);
  if (!out) return nullptr;
  std::string error;
  auto status =
      converter.convert(*out, error, handOver(buffer, AudioConverter::InputStatus::noDataNow));
  if (status == AudioConverter::OutputStatus::error || out->frameLength() == 0) return nullptr;
  return out;
}

MicrophoneShaper::MicrophoneShaper(const AudioFormat& input, const AudioFormat& mono,
                                   const AudioFormat& output,
                                   std::unique_ptr<AudioConverter> converter)
    : input_(input), mono_(mono), output_(output), converter_(std::move(converter)) {}

std::shared_ptr<MicrophoneShaper> MicrophoneShaper::make(AudioToolkit& audio,
                                                         const AudioFormat& input,
                                                         const AudioFormat& output) {
  if (input.channelCount == 0 || !(input.sampleRate > 0)) return nullptr;
  auto mono = AudioFormat::make(input.sampleRate, 1, false);
  if (!mono) return nullptr;
  auto converter = audio.makeConverter(*mono, output);
  if (!converter) return nullptr;
  return std::make_shared<MicrophoneShaper>(input, *mono, output, std::move(converter));
}

PcmBufferRef MicrophoneShaper::mono(const PcmBuffer& buffer) const {
  const std::uint32_t frames = buffer.frameLength();
  const std::uint32_t n = buffer.format().channelCount;
  if (frames == 0 || n == 0) return nullptr;
  auto out = PcmBuffer::make(mono_, frames);
  if (!out) return nullptr;
  out->setFrameLength(frames);
  const float scale = 1.0f / static_cast<float>(n);
  for (std::uint32_t i = 0; i < frames; ++i) {
    float sum = 0;
    for (std::uint32_t c = 0; c < n; ++c) sum += buffer.sample(i, c);
    out->setSample(i, 0, scale * sum);
  }
  return out;
}

PcmBufferRef MicrophoneShaper::convert(const PcmBuffer& mono) {
  return earshot::convert(mono, *converter_, output_);
}

std::shared_ptr<MicrophoneShaper> Shapers::shaper(const AudioFormat& format) {
  if (shaper_ && shaper_->input().sampleRate == format.sampleRate &&
      shaper_->input().channelCount == format.channelCount)
    return shaper_;
  shaper_ = MicrophoneShaper::make(audio_, format, output_);
  return shaper_;
}

float LevelSink::level(float rms) {
  // A corrupt sample must not reach the host as a null level.
  if (std::isnan(rms)) return 0.0f;
  const float db = 20.0f * std::log10(std::max(rms, 0.00001f));
  float value = std::min((db + 50.0f) / 40.0f, 1.0f);
  return value < 0 ? 0.0f : value;
}

void LevelSink::consume(const PcmBuffer& buffer) {
  const std::uint32_t frames = buffer.frameLength();
  if (frames == 0 || buffer.format().channelCount == 0) return;
  const auto now = clock_();
  if (last_ && std::chrono::duration<double>(now - *last_).count() < 0.05) return;
  last_ = now;
  float sum = 0;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const float v = buffer.sample(i, 0);
    sum += v * v;
  }
  emit_(level(std::sqrt(sum / static_cast<float>(frames))));
}

}  // namespace earshot
