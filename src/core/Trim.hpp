#pragma once

#include <cstdint>
#include <string_view>

namespace earshot {

// `text` without the leading and trailing UTF-8 code points for which `drop` holds. A byte that is
// not UTF-8 stops the trim. At most INT32_MAX bytes (ICU's offsets).
std::string_view trimmedCodePoints(std::string_view text, bool (*drop)(std::int32_t codePoint));

}  // namespace earshot
