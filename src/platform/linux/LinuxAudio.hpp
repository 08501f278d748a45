#pragma once

// The audio service's file side on Linux: libsoxr for rate conversion, libsndfile for decoding.

#include "platform/Audio.hpp"

namespace earshot::linux_platform {

class LinuxAudioToolkit final : public AudioToolkit {
 public:
  std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from,
                                                const AudioFormat& to) override;
  std::unique_ptr<AudioFile> openForReading(const std::string& path) override;
};

}  // namespace earshot::linux_platform
