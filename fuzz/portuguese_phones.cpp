// espeak-ng's phoneme mnemonics of any name a desktop entry gives, mapped onto English phones;
// and the accents put back on a folded word.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/linux/PortuguesePhones.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const auto& reading : earshot::linux_platform::portugueseReadings(bytes, 4))
    if (reading.empty() || reading.front() == ' ' || reading.back() == ' ') __builtin_trap();
  (void)earshot::linux_platform::accented(bytes);
  return 0;
}
