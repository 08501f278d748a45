// Arbitrary bytes as an audio file through decoding, microphone-like buffers and the shaping path.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/LinuxAudio.hpp"
#include "speech/SpeechInput.hpp"

using namespace earshot;

namespace {

std::string& scratchPath() {
  static std::string path = [] {
    char name[] = "/tmp/earshot-fuzz-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    std::atexit([] { ::unlink(scratchPath().c_str()); });
    return std::string(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static linux_platform::LinuxAudioToolkit audio;
  speechServices().audio = &audio;
  const std::string& path = scratchPath();
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, out);
    std::fclose(out);
  }
  try {
    {
      auto file = audio.openForReading(path);
      // Keep each run short: the decoded file is held whole in memory.
      const double samples = double(file->length()) * file->processingFormat().channelCount;
      if (samples > (1 << 20) || file->processingFormat().sampleRate > 400000) return 0;
    }
    auto mic = *SpeechInput::microphoneLike(2);
    auto buffers = SpeechInput::microphoneBuffers(path, mic);
    auto shaper = MicrophoneShaper::make(mic, *AudioFormat::make(16000, 1));
    for (const auto& buffer : buffers) {
      if (auto mono = shaper->mono(*buffer))
        SpeechInput::convert(*mono, shaper->converter(), shaper->output());
    }
  } catch (const std::exception&) {
    // Refusals and platform errors are expected answers to broken files.
  }
  return 0;
}
