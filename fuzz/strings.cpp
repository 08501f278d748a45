// Strings files in every form: text (UTF-8 or UTF-16), XML or binary property lists.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/PropertyList.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)earshot::parseStringsText(bytes);
  (void)earshot::PropertyDictionary::parse(bytes).texts();
  return 0;
}
