#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/TemporaryFolder.hpp"

namespace earshot::testing {

// Writes a 32-bit float WAV file from interleaved samples.
void writeWav(const std::string& path, int rate, int channels,
              const std::vector<float>& interleaved);

// `seconds` of a sine at `hz` with amplitude `amplitude`, one channel.
std::vector<float> sine(int rate, double seconds, double hz, float amplitude = 0.5f);

}  // namespace earshot::testing
