#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/TemporaryFolder.hpp"

namespace earshot::testing {

// A spoken sentence from the recognizer's Debian package (16 kHz mono), played into microphones.
inline const std::string speechRecording =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";

// Writes a 32-bit float WAV file from interleaved samples.
void writeWav(const std::string& path, int rate, int channels,
              const std::vector<float>& interleaved);

// `seconds` of a sine at `hz` with amplitude `amplitude`, one channel.
std::vector<float> sine(int rate, double seconds, double hz, float amplitude = 0.5f);

}  // namespace earshot::testing
