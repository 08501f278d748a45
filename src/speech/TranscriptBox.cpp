#include "speech/TranscriptBox.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <limits>

namespace earshot {

std::string trimmed(const std::string& text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    constexpr const char* space = " \t\n\r\v\f";  // beyond what ICU's offsets reach
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
  }
  // Every Unicode white space and line break counts (no-break space, line separator, ...), not
  // only the ASCII ones; a byte that is not UTF-8 stops the trim.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t begin = 0;
  while (begin < length) {
    std::int32_t next = begin;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    begin = next;
  }
  std::int32_t end = length;
  while (end > begin) {
    std::int32_t previous = end;
    UChar32 c;
    U8_PREV(bytes, begin, previous, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    end = previous;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

std::string TranscriptBox::update(const std::string& text, bool isFinal) {
  std::lock_guard guard(lock_);
  if (isFinal) {
    finished_ += text;
    volatile_.clear();
  } else {
    volatile_ = text;
  }
  return joined();
}

std::string TranscriptBox::text() const {
  std::lock_guard guard(lock_);
  return joined();
}

std::string TranscriptBox::joined() const {
  return trimmed(finished_ + volatile_);
}

}  // namespace earshot
