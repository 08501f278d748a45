#pragma once

#include <mutex>
#include <string>

namespace earshot {

// The recognized text of one take: the final results so far and the latest volatile one. Written
// by the result reader, read on the main thread; the lock is held only for the string work.
class TranscriptBox {
 public:
  // Applies one result and returns the whole transcript after it.
  std::string update(const std::string& text, bool isFinal);
  // The whole transcript now: finished followed by volatile, trimmed at both ends.
  std::string text() const;

 private:
  std::string joined() const;

  mutable std::mutex lock_;
  std::string finished_;
  std::string volatile_;
};

// `text` without white space and line breaks at either end.
std::string trimmed(const std::string& text);

}  // namespace earshot
