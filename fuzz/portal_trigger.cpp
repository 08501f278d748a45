// A desktop's description of a shortcut's trigger, read back into a chord.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/linux/PortalHotKeys.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)earshot::linux_platform::PortalHotKeys::chordOf(text);
  return 0;
}
