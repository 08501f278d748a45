#pragma once

// The per-buffer audio path between capture and analyzer: fold to mono, meter, convert.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Audio.hpp"

namespace earshot {

// An input block that hands `buffer` over once, then reports `after` (no data now, to keep the
// resampler's history, or the end of the stream, to flush it).
AudioConverter::InputBlock handOver(const PcmBuffer& buffer, AudioConverter::InputStatus after);

// One buffer through `converter` into `format`, keeping the converter's history for the next
// buffer. Absent when nothing came out (yet) or the conversion failed.
PcmBufferRef convert(const PcmBuffer& buffer, AudioConverter& converter, const AudioFormat& format);

// For one capture format: folds buffers to one channel and converts them to the analyzer's format.
class MicrophoneShaper {
 public:
  // Absent when the input format is unusable or the service refuses the mono format or converter.
  static std::shared_ptr<MicrophoneShaper> make(AudioToolkit& audio, const AudioFormat& input,
                                                const AudioFormat& output);

  const AudioFormat& input() const { return input_; }
  const AudioFormat& mono() const { return mono_; }
  const AudioFormat& output() const { return output_; }
  AudioConverter& converter() { return *converter_; }

  // The plain average of the channels in a new one-channel buffer; absent for an empty buffer.
  PcmBufferRef mono(const PcmBuffer& buffer) const;
  // `convert` through this shaper's converter.
  PcmBufferRef convert(const PcmBuffer& mono);

  MicrophoneShaper(const AudioFormat& input, const AudioFormat& mono, const AudioFormat& output,
                   std::unique_ptr<AudioConverter> converter);

 private:
  AudioFormat input_;
  AudioFormat mono_;
  AudioFormat output_;
  std::unique_ptr<AudioConverter> converter_;  // keeps the resampler history between buffers
};

// Keeps one shaper and rebuilds it when the capture rate or channel count changes.
class Shapers {
 public:
  Shapers(AudioToolkit& audio, const AudioFormat& output) : audio_(audio), output_(output) {}
  // The shaper for buffers of `format`, or absent (then the next buffer tries again).
  std::shared_ptr<MicrophoneShaper> shaper(const AudioFormat& format);
  const AudioFormat& output() const { return output_; }

 private:
  AudioToolkit& audio_;
  AudioFormat output_;
  std::shared_ptr<MicrophoneShaper> shaper_;
};

// A loudness meter that emits at most one level per 50 ms.
class LevelSink {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  explicit LevelSink(std::function<void(float)> emit, Clock clock = std::chrono::steady_clock::now)
      : emit_(std::move(emit)), clock_(std::move(clock)) {}

  // Measures a one-channel buffer when a level is due.
  void consume(const PcmBuffer& buffer);

  // The level for an rms: -50 dBFS and below give 0, -10 dBFS and above 1, linear in between.
  static float level(float rms);

 private:
  std::function<void(float)> emit_;
  Clock clock_;
  std::optional<std::chrono::steady_clock::time_point> last_;  // absent: the distant past
};

// Carries partial transcripts to their receiver.
class PartialSink {
 public:
  explicit PartialSink(std::function<void(const std::string&)> send) : send_(std::move(send)) {}
  void emit(const std::string& text) { send_(text); }

 private:
  std::function<void(const std::string&)> send_;
};

}  // namespace earshot
