#include "speech/TranscriptBox.hpp"

#include <unicode/uchar.h>

#include <cstdint>
#include <limits>

#include "core/Trim.hpp"

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
  return std::string(
      trimmedCodePoints(text, [](std::int32_t c) { return bool(u_isUWhiteSpace(c)); }));
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
