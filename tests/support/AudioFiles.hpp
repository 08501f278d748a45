#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace earshot::testing {

// A fresh temporary folder, removed with everything in it on destruction.
class AudioScratchDir {
 public:
  AudioScratchDir();
  ~AudioScratchDir();
  AudioScratchDir(const AudioScratchDir&) = delete;
  AudioScratchDir& operator=(const AudioScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes a 32-bit float WAV file from interleaved samples.
void writeWav(const std::string& path, int rate, int channels,
              const std::vector<float>& interleaved);

// `seconds` of a sine at `hz` with amplitude `amplitude`, one channel.
std::vector<float> sine(int rate, double seconds, double hz, float amplitude = 0.5f);

}  // namespace earshot::testing
