#include "catalog/Plain.hpp"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>

namespace earshot {

namespace {

bool ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

const icu::Normalizer2& nfd() {
  UErrorCode status = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFDInstance(status);
}

const icu::Normalizer2& nfc() {
  UErrorCode status = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFCInstance(status);
}

const icu::Normalizer2& nfkd() {
  UErrorCode status = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFKDInstance(status);
}

// Case-, diacritic- and width-insensitive folding: full-width and half-width forms become their
// ordinary characters, non-spacing marks go after canonical decomposition, then full case folding.
icu::UnicodeString fold(const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString widened;
  for (int32_t i = 0; i < text.length();) {
    UChar32 c = text.char32At(i);
    i += U16_LENGTH(c);
    int32_t kind = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
    if (kind == U_DT_WIDE || kind == U_DT_NARROW) {
      widened += nfkd().normalize(icu::UnicodeString(c), status);
    } else {
      widened.append(c);
    }
  }
  icu::UnicodeString decomposed = nfd().normalize(widened, status);
  icu::UnicodeString bare;
  for (int32_t i = 0; i < decomposed.length();) {
    UChar32 c = decomposed.char32At(i);
    i += U16_LENGTH(c);
    if (u_charType(c) != U_NON_SPACING_MARK) bare.append(c);
  }
  bare.foldCase(U_FOLD_CASE_DEFAULT);
  icu::UnicodeString composed = nfc().normalize(bare, status);
  return U_SUCCESS(status) ? composed : bare;
}

bool alphanumeric(UChar32 c) {
  return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

// The fold of an all-ASCII text: lower-case letters and digits, words one space apart.
std::string foldedAscii(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool gap = false;
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      if (gap && !out.empty()) out.push_back(' ');
      gap = false;
      out.push_back(c);
    } else if (c >= 'A' && c <= 'Z') {
      if (gap && !out.empty()) out.push_back(' ');
      gap = false;
      out.push_back(static_cast<char>(c - 'A' + 'a'));
    } else {
      gap = true;
    }
  }
  return out;
}

icu::BreakIterator* characterBreaks() {
  thread_local std::unique_ptr<icu::BreakIterator> breaks = [] {
    UErrorCode status = U_ZERO_ERROR;
    return std::unique_ptr<icu::BreakIterator>(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  }();
  return breaks.get();
}

}  // namespace

std::string plain(std::string_view text) {
  if (ascii(text)) return foldedAscii(text);
  icu::UnicodeString folded = fold(fromUtf8(text));
  folded.toLower(icu::Locale::getRoot());
  icu::UnicodeString out;
  bool gap = false;
  for (int32_t i = 0; i < folded.length();) {
    UChar32 c = folded.char32At(i);
    i += U16_LENGTH(c);
    if (alphanumeric(c)) {
      if (gap && !out.isEmpty()) out.append(static_cast<UChar32>(' '));
      gap = false;
      out.append(c);
    } else {
      gap = true;
    }
  }
  return toUtf8(out);
}

std::vector<std::string> characters(std::string_view text) {
  std::vector<std::string> out;
  if (ascii(text)) {
    // Only a carriage return before a line feed joins two ASCII characters into one.
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        out.emplace_back("\r\n");
        ++i;
      } else {
        out.emplace_back(1, text[i]);
      }
    }
    return out;
  }
  icu::UnicodeString unicode = fromUtf8(text);
  icu::BreakIterator* breaks = characterBreaks();
  if (!breaks) return out;
  breaks->setText(unicode);
  UErrorCode status = U_ZERO_ERROR;
  int32_t start = breaks->first();
  for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE;
       start = end, end = breaks->next()) {
    icu::UnicodeString piece(unicode, start, end - start);
    out.push_back(toUtf8(nfc().normalize(piece, status)));
  }
  return out;
}

std::size_t characterCount(std::string_view text) {
  if (ascii(text) && text.find('\r') == std::string_view::npos) return text.size();
  return characters(text).size();
}

bool beginsWith(std::string_view text, std::string_view prefix) {
  if (ascii(text) && ascii(prefix)) {
    if (!text.starts_with(prefix)) return false;
    // A carriage return that ends the prefix and a line feed after it are one character.
    return prefix.empty() || prefix.size() == text.size() || prefix.back() != '\r' ||
           text[prefix.size()] != '\n';
  }
  auto whole = characters(text);
  auto front = characters(prefix);
  return front.size() <= whole.size() && std::equal(front.begin(), front.end(), whole.begin());
}

std::string withoutFormatCharacters(std::string_view text) {
  if (ascii(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  int32_t length = static_cast<int32_t>(text.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (int32_t i = 0; i < length;) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c >= 0 && u_charType(c) == U_FORMAT_CHAR) continue;
    out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
  }
  return out;
}

}  // namespace earshot
