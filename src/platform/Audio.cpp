#include "platform/Audio.hpp"

#include <cmath>

namespace earshot {

std::optional<AudioFormat> AudioFormat::make(double sampleRate, std::uint32_t channels,
                                             bool interleaved) {
  if (channels == 0 || channels > maxChannels) return std::nullopt;
  if (!std::isfinite(sampleRate) || sampleRate <= 0) return std::nullopt;
  return AudioFormat{sampleRate, channels, interleaved, 0};
}

std::optional<AudioFormat> AudioFormat::discreteInOrder(double sampleRate, std::uint32_t channels) {
  auto format = make(sampleRate, channels, false);
  if (format) format->layoutTag = discreteInOrderTag | channels;
  return format;
}

PcmBuffer::PcmBuffer(const AudioFormat& format, std::uint32_t capacity)
    : format_(format), capacity_(capacity) {
  const std::size_t channels = format.channelCount;
  // At least one sample per channel, so that even an empty buffer has its pointers.
  const std::size_t perChannel = capacity > 0 ? capacity : 1;
  samples_.assign(perChannel * channels, 0.0f);
  if (format.interleaved) {
    channels_.push_back(samples_.data());
    for (std::size_t c = 0; c < channels; ++c) starts_.push_back(samples_.data() + c);
    stride_ = channels;
  } else {
    for (std::size_t c = 0; c < channels; ++c)
      channels_.push_back(samples_.data() + c * perChannel);
    starts_ = channels_;
  }
}

std::shared_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat& format, std::uint32_t frameCapacity) {
  if (format.channelCount == 0 || format.channelCount > AudioFormat::maxChannels) return nullptr;
  if (std::uint64_t{frameCapacity} * format.channelCount > maxSamples) return nullptr;
  try {
    return std::make_shared<PcmBuffer>(format, frameCapacity);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace earshot
