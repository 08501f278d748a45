#include "support/AudioFiles.hpp"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace earshot::testing {

namespace {
void put32(std::ofstream& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xff));
}
void put16(std::ofstream& out, std::uint16_t v) {
  out.put(static_cast<char>(v & 0xff));
  out.put(static_cast<char>(v >> 8));
}
}  // namespace

void writeWav(const std::string& path, int rate, int channels, const std::vector<float>& samples) {
  std::ofstream out(path, std::ios::binary);
  const std::uint32_t bytes = static_cast<std::uint32_t>(samples.size() * 4);
  out.write("RIFF", 4);
  put32(out, 36 + bytes);
  out.write("WAVEfmt ", 8);
  put32(out, 16);
  put16(out, 3);  // IEEE float
  put16(out, static_cast<std::uint16_t>(channels));
  put32(out, static_cast<std::uint32_t>(rate));
  put32(out, static_cast<std::uint32_t>(rate * channels * 4));
  put16(out, static_cast<std::uint16_t>(channels * 4));
  put16(out, 32);
  out.write("data", 4);
  put32(out, bytes);
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(bytes));
}

std::vector<float> sine(int rate, double seconds, double hz, float amplitude) {
  std::vector<float> out(static_cast<std::size_t>(rate * seconds));
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] =
        amplitude * static_cast<float>(std::sin(2 * M_PI * hz * static_cast<double>(i) / rate));
  return out;
}

}  // namespace earshot::testing
