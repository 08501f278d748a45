#pragma once

// Readers of property-list and strings files (XML, binary and the old text format), as bundles
// carry them.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace earshot {

// A dictionary's text values by key.
using Texts = std::map<std::string, std::string>;

// A dictionary read from a property-list or strings file. It owns what it read; a nested
// dictionary shares that ownership. An empty one (false) stands for "no dictionary".
class PropertyDictionary {
 public:
  PropertyDictionary() = default;

  // The bytes of a property-list or strings file: binary or XML property list, or the text format
  // in UTF-8 or in UTF-16 with a byte-order mark. Empty unless they hold a dictionary.
  static PropertyDictionary parse(std::string_view bytes);
  // A file read with `parse`; empty when it is missing or unreadable too.
  static PropertyDictionary read(const std::string& path);

  explicit operator bool() const { return node_ != nullptr; }

  // The text under `key`; nothing when absent or not a text.
  std::optional<std::string> text(const char* key) const;
  // A boolean true, or the number 1; never a text.
  bool isTrue(const char* key) const;
  // The dictionary under `key`; empty when absent or not a dictionary.
  PropertyDictionary dictionary(const char* key) const;
  // Every text value (other values are left out).
  Texts texts() const;

 private:
  PropertyDictionary(std::shared_ptr<void> root, void* node)
      : root_(std::move(root)), node_(node) {}

  std::shared_ptr<void> root_;
  void* node_ = nullptr;
};

// Parses the old text format of strings files ("key" = "value"; with comments and escapes) from
// UTF-8 text. Nothing when the text is not in that format.
std::optional<Texts> parseStringsText(std::string_view text);

// The whole file, or nothing when it cannot be read. Files larger than `limit` are not read.
std::optional<std::string> readFile(const std::string& path, std::size_t limit = 16u << 20);

}  // namespace earshot
