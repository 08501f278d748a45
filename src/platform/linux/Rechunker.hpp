#pragma once

// Cuts interleaved float audio, delivered in pieces of any size, into non-interleaved buffers of
// one fixed frame count: the sound server decides its piece sizes, the tap asks for its own.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/Audio.hpp"

namespace earshot::linux_platform {

class Rechunker {
 public:
  // Receives each full buffer and the frame count at its first frame.
  using Sink = std::function<void(const PcmBufferRef& buffer, std::uint64_t firstFrame)>;

  // `format` gives the channel count and is what each buffer carries; `frames` is above 0.
  Rechunker(const AudioFormat& format, std::uint32_t frames);

  // `bytes` of interleaved 32-bit floats; a frame split across two pieces is joined.
  void push(const void* data, std::size_t bytes, const Sink& sink);
  // Frames taken in so far (whole frames only).
  std::uint64_t frames() const { return total_; }

 private:
  void take(const float* frame, const Sink& sink);

  AudioFormat format_;
  std::uint32_t size_;
  std::uint32_t channels_;
  PcmBufferRef current_;
  std::uint64_t total_ = 0;
  std::uint64_t first_ = 0;
  // A frame cut between two pieces.
  float partial_[AudioFormat::maxChannels] = {};
  std::size_t partialBytes_ = 0;
};

}  // namespace earshot::linux_platform
