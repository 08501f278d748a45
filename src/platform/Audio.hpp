#pragma once

// The audio capture service's values and file side: formats, PCM buffers, pull-style converters
// and whole-file decoding. Samples are always 32-bit float.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace earshot {

// A 32-bit float PCM format. Made through `make`, which refuses what no buffer could carry.
struct AudioFormat {
  double sampleRate = 0;
  std::uint32_t channelCount = 0;
  bool interleaved = false;
  // A channel layout tag (as Core Audio numbers them); 0 when none was given.
  std::uint32_t layoutTag = 0;

  // The channels a service accepts in one format.
  static constexpr std::uint32_t maxChannels = 64;

  // Absent for a channel count of 0 or above `maxChannels`, or a rate that is not positive and
  // finite.
  static std::optional<AudioFormat> make(double sampleRate, std::uint32_t channels,
                                         bool interleaved = false);
  // A discrete-in-order layout (tag 147 << 16 | channels) at `sampleRate`, not interleaved.
  static std::optional<AudioFormat> discreteInOrder(double sampleRate, std::uint32_t channels);

  friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

constexpr std::uint32_t discreteInOrderTag = 147u << 16;

// A PCM buffer: a format, a frame capacity and a frame length. Non-interleaved buffers have one
// float pointer per channel; interleaved ones one pointer in all.
class PcmBuffer {
 public:
  // The most samples one buffer may hold (all channels); larger requests are refused.
  static constexpr std::uint64_t maxSamples = std::uint64_t{1} << 28;

  // Absent when the request is too large to allocate.
  static std::shared_ptr<PcmBuffer> make(const AudioFormat& format, std::uint32_t frameCapacity);

  const AudioFormat& format() const { return format_; }
  std::uint32_t frameCapacity() const { return capacity_; }
  std::uint32_t frameLength() const { return length_; }
  // Clamped to the capacity.
  void setFrameLength(std::uint32_t frames) { length_ = frames < capacity_ ? frames : capacity_; }

  // One pointer per channel (one in all when interleaved). Never empty for a made buffer.
  const std::vector<float*>& floatChannelData() { return channels_; }
  std::vector<const float*> floatChannelData() const {
    return std::vector<const float*>(channels_.begin(), channels_.end());
  }

  // One sample, wherever the layout keeps it: the one place that knows interleaved from planar.
  // `frame` below the capacity and `channel` below the channel count.
  float sample(std::uint32_t frame, std::uint32_t channel) const { return *at(frame, channel); }
  void setSample(std::uint32_t frame, std::uint32_t channel, float value) {
    *at(frame, channel) = value;
  }

  PcmBuffer(const AudioFormat& format, std::uint32_t capacity);
  // The channel pointers point into the buffer's own samples: a copy would share them.
  PcmBuffer(const PcmBuffer&) = delete;
  PcmBuffer& operator=(const PcmBuffer&) = delete;

 private:
  float* at(std::uint32_t frame, std::uint32_t channel) const {
    return starts_[channel] + std::size_t{frame} * stride_;
  }

  AudioFormat format_;
  std::uint32_t capacity_;
  std::uint32_t length_ = 0;
  std::vector<float> samples_;
  std::vector<float*> channels_;
  // Where each channel's first sample is, and how far apart its samples are.
  std::vector<float*> starts_;
  std::size_t stride_ = 1;
};

using PcmBufferRef = std::shared_ptr<PcmBuffer>;

// A pull-style converter from one format to another (rate and channel count). It keeps its
// resampler history between calls until its input block reports the end of the stream, which
// flushes it; the next call after that starts afresh.
class AudioConverter {
 public:
  enum class InputStatus { haveData, noDataNow, endOfStream };
  enum class OutputStatus { haveData, inputRanDry, endOfStream, error };
  // Asked for input whenever the converter needs more; sets the status and returns a buffer in the
  // converter's input format when the status is haveData. The converter copies what it needs
  // before it asks again.
  using InputBlock = std::function<const PcmBuffer*(InputStatus& status)>;

  virtual ~AudioConverter() = default;
  virtual const AudioFormat& inputFormat() const = 0;
  virtual const AudioFormat& outputFormat() const = 0;
  // Fills `output` (in the output format) from its start; sets its frame length. On error, sets
  // `error` to the converter's description of it.
  virtual OutputStatus convert(PcmBuffer& output, std::string& error, const InputBlock& input) = 0;
};

// An audio file opened for reading, decoded to 32-bit float.
class AudioFile {
 public:
  virtual ~AudioFile() = default;
  // Float, not interleaved, at the file's own rate and channel count.
  virtual const AudioFormat& processingFormat() const = 0;
  // The file's frame count at its processing format.
  virtual std::int64_t length() const = 0;
  // Reads up to the buffer's capacity from the current position; throws PlatformError.
  virtual void read(PcmBuffer& into) = 0;
};

// The factory side of the audio service.
class AudioToolkit {
 public:
  virtual ~AudioToolkit() = default;
  // Absent when the service cannot convert between the two formats.
  virtual std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from,
                                                        const AudioFormat& to) = 0;
  // Throws PlatformError when the file is missing, unreadable or not audio.
  virtual std::unique_ptr<AudioFile> openForReading(const std::string& path) = 0;
};

}  // namespace earshot
