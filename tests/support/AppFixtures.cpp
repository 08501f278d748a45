#include "support/AppFixtures.hpp"

#include <plist/plist.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/linux/Files.hpp"

namespace earshot::testing {

namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

PlistValue PlistValue::of(bool value) {
  PlistValue out("");
  out.kind = Kind::boolean;
  out.boolean = value;
  return out;
}

PlistValue PlistValue::number(long value) {
  PlistValue out("");
  out.kind = Kind::integer;
  out.integer = value;
  return out;
}

PlistValue PlistValue::of(std::map<std::string, PlistValue> value) {
  PlistValue out("");
  out.kind = Kind::dictionary;
  out.dictionary = std::move(value);
  return out;
}

namespace {

plist_t node(const PlistValue& value);

plist_t dictionaryNode(const PlistDictionary& dictionary) {
  plist_t dict = plist_new_dict();
  for (const auto& [key, value] : dictionary) plist_dict_set_item(dict, key.c_str(), node(value));
  return dict;
}

plist_t node(const PlistValue& value) {
  switch (value.kind) {
    case PlistValue::Kind::boolean:
      return plist_new_bool(value.boolean);
    case PlistValue::Kind::integer:
      return plist_new_uint(static_cast<uint64_t>(value.integer));
    case PlistValue::Kind::dictionary:
      return dictionaryNode(value.dictionary);
    case PlistValue::Kind::text:
      break;
  }
  return plist_new_string(value.text.c_str());
}

}  // namespace

std::string plistBytes(const PlistDictionary& dictionary, PlistForm form) {
  plist_t dict = dictionaryNode(dictionary);
  char* data = nullptr;
  uint32_t length = 0;
  std::string out;
  if (form == PlistForm::binary) {
    plist_to_bin(dict, &data, &length);
    out.assign(data, length);
    plist_to_bin_free(data);
  } else {
    plist_to_xml(dict, &data, &length);
    out.assign(data, length);
    plist_to_xml_free(data);
  }
  plist_free(dict);
  return out;
}

std::string utf16(const std::string& utf8, bool bigEndian) {
  std::u16string units;
  for (std::size_t i = 0; i < utf8.size();) {
    auto c = static_cast<unsigned char>(utf8[i]);
    char32_t code;
    int extra;
    if (c < 0x80)
      code = c, extra = 0;
    else if (c < 0xE0)
      code = c & 0x1F, extra = 1;
    else if (c < 0xF0)
      code = c & 0x0F, extra = 2;
    else
      code = c & 0x07, extra = 3;
    for (int k = 1; k <= extra; ++k)
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(code));
    }
  }
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : units) {
    char high = static_cast<char>(unit >> 8);
    char low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

std::string makeBundle(const std::string& folder, const std::string& name,
                       const std::optional<PlistDictionary>& info, PlistForm form) {
  const std::string path = folder + "/" + name;
  fs::create_directories(path + "/Contents");
  if (info) writeFile(path + "/Contents/Info.plist", plistBytes(*info, form));
  return path;
}

void makeDesktopFile(const std::string& path, const std::vector<std::string>& lines) {
  std::string text = "[Desktop Entry]\n";
  for (const auto& line : lines) text += line + "\n";
  writeFile(path, text);
}

std::optional<std::vector<std::string>> FixtureWorkspace::contentsOfDirectory(
    const std::string& folder) const {
  const std::string real = folder.starts_with(home_) ? folder : sysroot_ + folder;
  std::error_code error;
  fs::directory_iterator it(real, error);
  if (error) return std::nullopt;
  std::vector<std::string> children;
  for (fs::directory_iterator end; it != end; it.increment(error)) {
    children.push_back(real + "/" + it->path().filename().string());
  }
  std::sort(children.begin(), children.end());
  return children;
}

std::string FixtureWorkspace::displayName(const std::string& path) const {
  return fs::path(path).filename().string();
}

std::string FixtureWorkspace::resolvingSymlinks(const std::string& path) const {
  std::error_code error;
  auto resolved = fs::canonical(path, error);
  return error ? path : resolved.string();
}

// The real reader: fixtures include FIFOs and other files that must not be waited on.
std::optional<std::string> FixtureWorkspace::readFile(const std::string& path,
                                                      std::size_t limit) const {
  return linux_platform::readRegularFile(path, limit);
}

std::optional<DesktopEntry> FixtureWorkspace::desktopEntry(const std::string& path,
                                                           const std::string&) {
  for (const auto& entry : desktop) {
    if (entry.path == path) return entry;
  }
  return std::nullopt;
}

void FixtureWorkspace::open(const std::string& path, std::function<void(std::exception_ptr)> done) {
  opened.push_back(path);
  if (launchThrows) std::rethrow_exception(launchThrows);
  if (answerLaunch) done(launchError);
}

}  // namespace earshot::testing
