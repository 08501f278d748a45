#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace earshot {

// The plain form of a text: case, diacritics and width folded, lower case, every run of characters
// outside letters, marks and digits turned into one space, no space at either end. Input and output
// are UTF-8; invalid bytes count as separators.
std::string plain(std::string_view text);

// The user-perceived characters (extended grapheme clusters) of a UTF-8 text, each in canonical
// composed form so that canonically equivalent characters compare equal.
std::vector<std::string> characters(std::string_view text);

// How many user-perceived characters the text has.
std::size_t characterCount(std::string_view text);

// Whether `text` begins with `prefix`, character by character.
bool beginsWith(std::string_view text, std::string_view prefix);

// `text` without its format characters (general category Cf), otherwise unchanged.
std::string withoutFormatCharacters(std::string_view text);

}  // namespace earshot
