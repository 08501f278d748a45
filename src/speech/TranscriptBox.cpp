#include "speech/TranscriptBox.hpp"

namespace earshot {

std::string trimmed(const std::string& text) {
  constexpr const char* space = " \t\n\r\v\f";
  const auto first = text.find_first_not_of(space);
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
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
