// A desktop file's text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/linux/DesktopEntries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)earshot::linux_platform::parseDesktopEntry(text, "org.example.App.desktop", "/x.desktop");
  return 0;
}
