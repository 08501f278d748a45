// Standard-input lines of the long-running modes: the dictation commands and the listening mode's
// words, on any bytes.
#include "cli/Commands.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  (void)earshot::dictationCommand(line);
  for (const auto& word : earshot::commandWords(line))
    if (word.empty() || word.find(' ') != std::string_view::npos) __builtin_trap();
  return 0;
}
