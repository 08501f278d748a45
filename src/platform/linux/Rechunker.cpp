#include "platform/linux/Rechunker.hpp"

#include <algorithm>
#include <cstring>

namespace earshot::linux_platform {

Rechunker::Rechunker(const AudioFormat& format, std::uint32_t frames)
    : format_(format),
      size_(std::max<std::uint32_t>(frames, 1)),
      channels_(std::clamp<std::uint32_t>(format.channelCount, 1, AudioFormat::maxChannels)) {
  format_.interleaved = false;
}

void Rechunker::push(const void* data, std::size_t bytes, const Sink& sink) {
  const auto* in = static_cast<const unsigned char*>(data);
  const std::size_t frameBytes = channels_ * sizeof(float);
  if (partialBytes_ > 0) {
    const std::size_t need = std::min(frameBytes - partialBytes_, bytes);
    std::memcpy(reinterpret_cast<unsigned char*>(partial_) + partialBytes_, in, need);
    partialBytes_ += need;
    in += need;
    bytes -= need;
    if (partialBytes_ < frameBytes) return;
    partialBytes_ = 0;
    take(partial_, sink);
  }
  float frame[AudioFormat::maxChannels];
  while (bytes >= frameBytes) {
    // The server's pieces carry no alignment promise.
    std::memcpy(frame, in, frameBytes);
    take(frame, sink);
    in += frameBytes;
    bytes -= frameBytes;
  }
  if (bytes > 0) {
    std::memcpy(partial_, in, bytes);
    partialBytes_ = bytes;
  }
}

void Rechunker::take(const float* frame, const Sink& sink) {
  if (!current_) {
    current_ = PcmBuffer::make(format_, size_);
    if (!current_) return;
    first_ = total_;
  }
  const std::uint32_t at = current_->frameLength();
  const auto& planes = current_->floatChannelData();
  for (std::uint32_t c = 0; c < channels_; ++c) planes[c][at] = frame[c];
  current_->setFrameLength(at + 1);
  ++total_;
  if (at + 1 == size_) {
    // The tap may keep the buffer: every buffer is a fresh one.
    auto full = std::move(current_);
    current_.reset();
    sink(full, first_);
  }
}

}  // namespace earshot::linux_platform
