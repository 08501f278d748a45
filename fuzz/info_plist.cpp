// An Info.plist or InfoPlist.loctable read the way the catalog reads a bundle.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/PropertyList.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto info = earshot::PropertyDictionary::parse(bytes);
  (void)info.isTrue("LSUIElement");
  (void)info.text("CFBundleName");
  (void)info.text("CFBundleIdentifier");
  for (const char* code : {"pt_BR", "pt-BR", "pt", "pt_PT", "pt-PT"}) {
    (void)info.dictionary(code).texts();
  }
  return 0;
}
