// Arbitrary bytes as an audio file through decoding, microphone-like buffers and the shaping path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/linux/LinuxAudio.hpp"
#include "speech/FileTranscription.hpp"
#include "speech/Shaping.hpp"

using namespace earshot;

namespace {

// An in-memory file, so that nothing is left on disk however the fuzzer ends.
int scratch() {
  static const int fd = ::memfd_create("earshot-fuzz", 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static linux_platform::LinuxAudioToolkit audio;
  const int fd = scratch();
  if (fd < 0 || ::ftruncate(fd, 0) != 0) return 0;
  if (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  try {
    {
      auto file = audio.openForReading(path);
      // Keep each run short.
      const double samples = double(file->length()) * file->processingFormat().channelCount;
      if (samples > (1 << 20) || file->processingFormat().sampleRate > 400000) return 0;
    }
    auto mic = *microphoneLike(2);
    // Small pieces, so that a run crosses many piece boundaries.
    MicrophoneFeed feed(audio, path, mic, 4096);
    auto shaper = MicrophoneShaper::make(audio, mic, *AudioFormat::make(16000, 1));
    while (auto buffer = feed.next()) {
      if (auto mono = shaper->mono(*buffer)) convert(*mono, shaper->converter(), shaper->output());
    }
  } catch (const std::exception&) {
    // Refusals and platform errors are expected answers to broken files.
  }
  return 0;
}
