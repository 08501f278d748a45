// An Info.plist or InfoPlist.loctable read the way the catalog reads a bundle.
#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "catalog/PropertyList.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  earshot::Plist node = earshot::parsePropertyList(bytes);
  auto* info = static_cast<plist_t>(node.get());
  (void)earshot::trueValue(info, "LSUIElement");
  (void)earshot::textValue(info, "CFBundleName");
  (void)earshot::textValue(info, "CFBundleIdentifier");
  if (info && plist_get_node_type(info) == PLIST_DICT) {
    for (const char* code : {"pt_BR", "pt-BR", "pt", "pt_PT", "pt-PT"}) {
      (void)earshot::textsOf(plist_dict_get_item(info, code));
    }
  }
  return 0;
}
