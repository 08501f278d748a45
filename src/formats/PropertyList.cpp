#include "formats/PropertyList.hpp"

#include <plist/plist.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <type_traits>

namespace earshot {

namespace {

// The character of a one-letter escape such as \n.
char controlEscape(char letter) {
  switch (letter) {
    case 'n':
      return '\n';
    case 't':
      return '\t';
    case 'r':
      return '\r';
    case 'a':
      return '\a';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    default:
      return '\v';
  }
}

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// Reads the text format: an optional pair of braces around entries `key = value;` or `key;`,
// where keys and values are quoted strings or unquoted words, with /* */ and // comments.
class StringsReader {
 public:
  explicit StringsReader(std::string_view text) : text_(text) {}

  std::optional<Texts> read() {
    Texts texts;
    skipSpace();
    bool braced = peek('{');
    if (braced) {
      ++at_;
      skipSpace();
    }
    while (ok_ && at_ < text_.size() && !(braced && peek('}'))) {
      auto key = token();
      if (!key) return std::nullopt;
      skipSpace();
      std::string value = *key;
      if (peek('=')) {
        ++at_;
        skipSpace();
        auto given = token();
        if (!given) return std::nullopt;
        value = std::move(*given);
        skipSpace();
      }
      if (!peek(';')) return std::nullopt;
      ++at_;
      texts.insert_or_assign(std::move(*key), std::move(value));
      skipSpace();
    }
    if (!ok_) return std::nullopt;
    if (braced) {
      if (!peek('}')) return std::nullopt;
      ++at_;
      skipSpace();
      if (!ok_ || at_ != text_.size()) return std::nullopt;
    }
    return texts;
  }

 private:
  bool peek(char c) const { return at_ < text_.size() && text_[at_] == c; }

  void skipSpace() {
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        ++at_;
      } else if (text_.substr(at_, 2) == "//") {
        while (at_ < text_.size() && text_[at_] != '\n') ++at_;
      } else if (text_.substr(at_, 2) == "/*") {
        auto end = text_.find("*/", at_ + 2);
        if (end == std::string_view::npos) {
          ok_ = false;
          at_ = text_.size();
          return;
        }
        at_ = end + 2;
      } else {
        return;
      }
    }
  }

  static bool wordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == ':' || c == '.' || c == '/' || c == '-';
  }

  std::optional<std::string> token() {
    if (peek('"')) return quoted();
    std::size_t start = at_;
    while (at_ < text_.size() && wordCharacter(text_[at_])) ++at_;
    if (at_ == start) return std::nullopt;
    return std::string(text_.substr(start, at_ - start));
  }

  static void appendUtf8(std::string& out, std::uint32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }

  static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Four hex digits after \U or \u; a high surrogate pairs with a following \uDC00..\uDFFF.
  std::optional<std::uint32_t> unit() {
    if (at_ + 4 > text_.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      int digit = hexDigit(text_[at_++]);
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
  }

  std::optional<std::string> quoted() {
    ++at_;
    std::string out;
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (at_ >= text_.size()) return std::nullopt;
      char e = text_[at_++];
      switch (e) {
        case 'n':
        case 't':
        case 'r':
        case 'a':
        case 'b':
        case 'f':
        case 'v':
          out.push_back(controlEscape(e));
          break;
        case 'U':
        case 'u': {
          auto high = unit();
          if (!high) return std::nullopt;
          std::uint32_t code = *high;
          // A surrogate pair is written as two escapes, of either case.
          if (code >= 0xD800 && code <= 0xDBFF &&
              (text_.substr(at_, 2) == "\\U" || text_.substr(at_, 2) == "\\u")) {
            std::size_t back = at_;
            at_ += 2;
            auto low = unit();
            if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
              code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
            } else {
              at_ = back;
            }
          }
          appendUtf8(out, code);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            std::uint32_t value = static_cast<std::uint32_t>(e - '0');
            for (int i = 0; i < 2 && at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '7';
                 ++i) {
              value = value * 8 + static_cast<std::uint32_t>(text_[at_++] - '0');
            }
            appendUtf8(out, value);
          } else {
            // \" \\ \' and any other escaped character stand for themselves.
            out.push_back(e);
          }
      }
    }
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// UTF-16 with a byte-order mark to UTF-8; ill-formed sequences become U+FFFD.
std::optional<std::string> fromUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    auto a = static_cast<unsigned char>(bytes[i]);
    auto b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
  }
  if (units.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max() / 4))
    return std::nullopt;
  std::string out(units.size() * 3 + 1, '\0');
  int32_t written = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, units.data(),
                     static_cast<int32_t>(units.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(written));
  return out;
}

Plist dictionaryOf(const Texts& texts) {
  Plist dict(plist_new_dict());
  for (const auto& [key, value] : texts) {
    plist_dict_set_item(dict.get(), key.c_str(), plist_new_string(value.c_str()));
  }
  return dict;
}

bool hasNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

Plist fromText(std::string_view text) {
  std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start != std::string_view::npos && text[start] == '<') {
    if (text.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
    plist_t node = nullptr;
    plist_from_xml(text.data(), static_cast<uint32_t>(text.size()), &node);
    return Plist(node);
  }
  // libplist keeps texts as C strings: a text with a NUL in it cannot be held faithfully.
  auto texts = parseStringsText(text);
  if (!texts) return nullptr;
  for (const auto& [key, value] : *texts) {
    if (hasNul(key) || hasNul(value)) return nullptr;
  }
  return dictionaryOf(*texts);
}

Plist parseNode(std::string_view bytes) {
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
  if (bytes.starts_with("bplist00")) {
    plist_t node = nullptr;
    plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    return Plist(node);
  }
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    auto text = fromUtf16(bytes, bytes[0] == '\xFE');
    return text ? fromText(*text) : nullptr;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return fromText(bytes);
}

}  // namespace

std::optional<Texts> parseStringsText(std::string_view text) {
  return StringsReader(text).read();
}

std::optional<std::string> readFile(const std::string& path, std::size_t limit) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::nullopt;
  std::string out;
  char buffer[16384];
  std::size_t got;
  bool ok = true;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    out.append(buffer, got);
    if (out.size() > limit) {
      ok = false;
      break;
    }
  }
  if (std::ferror(file)) ok = false;
  std::fclose(file);
  if (!ok) return std::nullopt;
  return out;
}

PropertyDictionary PropertyDictionary::parse(std::string_view bytes) {
  Plist node = parseNode(bytes);
  if (!node || plist_get_node_type(node.get()) != PLIST_DICT) return {};
  plist_t raw = node.get();
  return PropertyDictionary(std::shared_ptr<void>(node.release(), PlistFree()), raw);
}

PropertyDictionary PropertyDictionary::read(const std::string& path) {
  auto bytes = readFile(path);
  if (!bytes) return {};
  return parse(*bytes);
}

PropertyDictionary PropertyDictionary::dictionary(const char* key) const {
  if (!node_) return {};
  plist_t value = plist_dict_get_item(node_, key);
  if (!value || plist_get_node_type(value) != PLIST_DICT) return {};
  return PropertyDictionary(root_, value);
}

Texts PropertyDictionary::texts() const {
  Texts texts;
  if (!node_) return texts;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(node_, &iter);
  if (!iter) return texts;
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(node_, iter, &key, &value);
    if (!key) break;
    if (value && plist_get_node_type(value) == PLIST_STRING) {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(value, &length);
      if (text) texts.insert_or_assign(key, std::string(text, length));
    }
    std::free(key);
  }
  std::free(iter);
  return texts;
}

std::optional<std::string> PropertyDictionary::text(const char* key) const {
  if (!node_) return std::nullopt;
  plist_t value = plist_dict_get_item(node_, key);
  if (!value || plist_get_node_type(value) != PLIST_STRING) return std::nullopt;
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(value, &length);
  if (!text) return std::nullopt;
  return std::string(text, length);
}

bool PropertyDictionary::isTrue(const char* key) const {
  if (!node_) return false;
  plist_t value = plist_dict_get_item(node_, key);
  if (!value) return false;
  switch (plist_get_node_type(value)) {
    case PLIST_BOOLEAN: {
      uint8_t flag = 0;
      plist_get_bool_val(value, &flag);
      return flag != 0;
    }
    case PLIST_UINT: {
      uint64_t number = 0;
      plist_get_uint_val(value, &number);
      return number == 1;
    }
    case PLIST_REAL: {
      double number = 0;
      plist_get_real_val(value, &number);
      return number == 1.0;
    }
    default:
      return false;
  }
}

}  // namespace earshot
