#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

typedef void* plist_t;

namespace earshot {

// An owned libplist node.
struct PlistFree {
  void operator()(void* node) const;
};
using Plist = std::unique_ptr<void, PlistFree>;

// A dictionary read from a property-list or strings file: its text values by key.
using Texts = std::map<std::string, std::string>;

// Parses the old text format of strings files ("key" = "value"; with comments and escapes) from
// UTF-8 text. Nothing when the text is not in that format.
std::optional<Texts> parseStringsText(std::string_view text);

// The bytes of a property-list or strings file as a property list: binary or XML property list,
// or the text format in UTF-8 or in UTF-16 with a byte-order mark (a text-format file becomes a
// dictionary of texts). Nothing when the bytes are none of these.
Plist parsePropertyList(std::string_view bytes);

// The whole file, or nothing when it cannot be read. Files larger than `limit` are not read.
std::optional<std::string> readFile(const std::string& path, std::size_t limit = 16u << 20);

// A property-list or strings file read as a dictionary; nothing when it is missing, unreadable
// or not a dictionary.
Plist readDictionary(const std::string& path);

// The text values of a dictionary node (other values are left out).
Texts textsOf(plist_t dictionary);

// Reading one value of a dictionary node.
std::optional<std::string> textValue(plist_t dictionary, const char* key);
// A boolean true, or an integer 1; never a text.
bool trueValue(plist_t dictionary, const char* key);

}  // namespace earshot
