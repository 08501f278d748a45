#pragma once

// Pronunciations of English words that the recognizer's dictionary lacks ("inkscape", "gimp"),
// from flite's CMU lexicon and its letter-to-sound rules, in PocketSphinx's English phone set.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace earshot::linux_platform {

class LetterToSound {
 public:
  // The process's one instance; flite's lexicon is loaded on first use. Safe from any thread.
  static LetterToSound& english();

  // Phones separated by single spaces ("IH NG K S K EY P"), or nothing for a word that is not
  // made of the letters a to z only.
  std::optional<std::string> phones(std::string_view word);
  // Whether an English reader would read the letters as a word rather than spell them out ("gimp"
  // reads, "kdenlive" and "vlc" are spelled): flite's own test before it spells a token.
  bool readsAsWord(std::string_view word);

 private:
  LetterToSound() = default;

  std::mutex lock_;
  std::map<std::string, std::string, std::less<>> known_;  // earlier answers
};

// One flite phone ("ih1", "ax0", "pau") in PocketSphinx's English set ("IH", "AH"); empty for a
// pause and for a phone PocketSphinx has no counterpart for.
std::string sphinxPhone(std::string_view flitePhone);

}  // namespace earshot::linux_platform
