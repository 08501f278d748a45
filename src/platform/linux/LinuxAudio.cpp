#include "platform/linux/LinuxAudio.hpp"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/PlatformError.hpp"

namespace earshot::linux_platform {

namespace {

// Files libsndfile opens but that earshot does not take.
constexpr const char* audioDomain = "earshot.audio";
constexpr long unsupportedChannels = 1;
constexpr long unsupportedRate = 2;

inline float sample(const PcmBuffer& buffer, std::size_t frame, std::size_t channel) {
  return buffer.sample(static_cast<std::uint32_t>(frame), static_cast<std::uint32_t>(channel));
}

// Converts rate and channel count. Channels are mapped first (averaged down to one, otherwise
// repeated in order), so the resampler only carries the output's channels.
class SoxrConverter final : public AudioConverter {
 public:
  SoxrConverter(const AudioFormat& from, const AudioFormat& to, soxr_t resampler)
      : from_(from), to_(to), resampler_(resampler) {}
  ~SoxrConverter() override {
    if (resampler_) soxr_delete(resampler_);
  }
  SoxrConverter(const SoxrConverter&) = delete;
  SoxrConverter& operator=(const SoxrConverter&) = delete;

  const AudioFormat& inputFormat() const override { return from_; }
  const AudioFormat& outputFormat() const override { return to_; }

  OutputStatus convert(PcmBuffer& output, std::string& error, const InputBlock& input) override {
    const std::size_t channels = to_.channelCount;
    const std::size_t capacity = output.frameCapacity();
    std::size_t written = 0;
    output.setFrameLength(0);
    scratch_.resize(capacity * channels);
    auto finish = [&](OutputStatus status) {
      place(output, written);
      return status;
    };
    for (;;) {
      if (written == capacity) return finish(OutputStatus::haveData);
      const std::size_t pendingFrames = pending_.size() / channels;
      if (position_ < pendingFrames) {
        std::size_t used = 0, made = 0;
        const float* from = pending_.data() + position_ * channels;
        float* to = scratch_.data() + written * channels;
        if (!resampler_) {
          used = made = std::min(pendingFrames - position_, capacity - written);
          std::copy(from, from + made * channels, to);
        } else if (auto failure = soxr_process(resampler_, from, pendingFrames - position_, &used,
                                               to, capacity - written, &made)) {
          error = failure;
          return finish(OutputStatus::error);
        }
        position_ += used;
        written += made;
        if (position_ >= pendingFrames) {
          pending_.clear();
          position_ = 0;
        }
        continue;
      }
      if (flushing_) {
        std::size_t made = 0;
        if (resampler_) {
          if (auto failure =
                  soxr_process(resampler_, nullptr, 0, nullptr,
                               scratch_.data() + written * channels, capacity - written, &made)) {
            error = failure;
            return finish(OutputStatus::error);
          }
        }
        if (made == 0) {
          flushing_ = false;
          ended_ = true;
          return finish(OutputStatus::endOfStream);
        }
        written += made;
        continue;
      }
      InputStatus status = InputStatus::haveData;
      const PcmBuffer* buffer = input(status);
      if (status == InputStatus::noDataNow) return finish(OutputStatus::inputRanDry);
      if (status == InputStatus::endOfStream) {
        flushing_ = true;
        continue;
      }
      if (ended_) {
        if (resampler_) soxr_clear(resampler_);
        ended_ = false;
      }
      if (buffer) take(*buffer);
    }
  }

 private:
  // Maps the channels of `buffer` into the pending interleaved input.
  void take(const PcmBuffer& buffer) {
    const AudioFormat& format = buffer.format();
    const std::size_t frames = buffer.frameLength();
    const std::size_t in = format.channelCount;
    const std::size_t out = to_.channelCount;
    if (frames == 0 || in == 0) return;
    const std::size_t base = pending_.size();
    pending_.resize(base + frames * out);
    float* target = pending_.data() + base;
    if (out == 1 && in > 1) {
      const float scale = 1.0f / static_cast<float>(in);
      for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0;
        for (std::size_t c = 0; c < in; ++c) sum += sample(buffer, i, c);
        target[i] = scale * sum;
      }
      return;
    }
    for (std::size_t i = 0; i < frames; ++i)
      for (std::size_t c = 0; c < out; ++c) target[i * out + c] = sample(buffer, i, c % in);
  }

  // Moves `frames` frames from the scratch area into `output` in its own layout.
  void place(PcmBuffer& output, std::size_t frames) {
    const std::size_t channels = to_.channelCount;
    for (std::size_t i = 0; i < frames; ++i)
      for (std::size_t c = 0; c < channels; ++c)
        output.setSample(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(c),
                         scratch_[i * channels + c]);
    output.setFrameLength(static_cast<std::uint32_t>(frames));
  }

  AudioFormat from_;
  AudioFormat to_;
  soxr_t resampler_;  // null when the rates are equal
  std::vector<float> pending_;
  std::size_t position_ = 0;
  std::vector<float> scratch_;
  bool flushing_ = false;
  bool ended_ = false;
};

class SndfileAudioFile final : public AudioFile {
 public:
  SndfileAudioFile(SNDFILE* file, const SF_INFO& info, const AudioFormat& format)
      : file_(file), info_(info), format_(format) {}
  ~SndfileAudioFile() override { sf_close(file_); }
  SndfileAudioFile(const SndfileAudioFile&) = delete;
  SndfileAudioFile& operator=(const SndfileAudioFile&) = delete;

  const AudioFormat& processingFormat() const override { return format_; }
  std::int64_t length() const override { return info_.frames; }

  void read(PcmBuffer& into) override {
    const std::size_t channels = format_.channelCount;
    const std::size_t capacity = into.frameCapacity();
    std::vector<float> interleaved(capacity * channels);
    sf_count_t got =
        capacity > 0 ? sf_readf_float(file_, interleaved.data(), static_cast<sf_count_t>(capacity))
                     : 0;
    if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR)
      throw PlatformError("sndfile", sf_error(file_), sf_strerror(file_));
    const std::size_t frames = static_cast<std::size_t>(got);
    const std::uint32_t target = into.format().channelCount;
    for (std::size_t i = 0; i < frames; ++i)
      for (std::uint32_t c = 0; c < target; ++c)
        into.setSample(static_cast<std::uint32_t>(i), c,
                       interleaved[i * channels + (c % channels)]);
    into.setFrameLength(static_cast<std::uint32_t>(frames));
  }

 private:
  SNDFILE* file_;
  SF_INFO info_;
  AudioFormat format_;
};

}  // namespace

std::unique_ptr<AudioConverter> LinuxAudioToolkit::makeConverter(const AudioFormat& from,
                                                                 const AudioFormat& to) {
  if (!AudioFormat::make(from.sampleRate, from.channelCount)) return nullptr;
  if (!AudioFormat::make(to.sampleRate, to.channelCount)) return nullptr;
  soxr_t resampler = nullptr;
  if (from.sampleRate != to.sampleRate) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    resampler = soxr_create(from.sampleRate, to.sampleRate, to.channelCount, &error, &io, &quality,
                            nullptr);
    if (error || !resampler) {
      if (resampler) soxr_delete(resampler);
      return nullptr;
    }
  }
  return std::make_unique<SoxrConverter>(from, to, resampler);
}

std::unique_ptr<AudioFile> LinuxAudioToolkit::openForReading(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) throw PlatformError("sndfile", sf_error(nullptr), sf_strerror(nullptr));
  // libsndfile reads up to 1024 channels; the limit of 64 is ours, and so is the refusal.
  if (info.channels < 1 || info.channels > static_cast<int>(AudioFormat::maxChannels)) {
    sf_close(file);
    throw PlatformError(audioDomain, unsupportedChannels,
                        "The file has " + std::to_string(info.channels) + " channels; at most " +
                            std::to_string(AudioFormat::maxChannels) + " are supported.");
  }
  auto format = AudioFormat::make(info.samplerate, static_cast<std::uint32_t>(info.channels));
  if (!format || info.frames < 0) {
    sf_close(file);
    throw PlatformError(audioDomain, unsupportedRate, "The file's sample rate is not supported.");
  }
  return std::make_unique<SndfileAudioFile>(file, info, *format);
}

}  // namespace earshot::linux_platform
