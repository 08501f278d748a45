#pragma once

// Brazilian Portuguese words in the English model's phones: espeak-ng's pt-br phonemizer reads the
// word, and its phonemes are mapped onto the nearest English phones, with a few variants for the
// sounds an English model hears least reliably (r sounds, final unstressed vowels, nasals, open
// and close e and o).

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace earshot::linux_platform {

// Up to `most` pronunciations ("AA B R IY R") of one word given as espeak-ng's phoneme mnemonics
// (what `espeak-ng -x -v pt-br` prints, such as "abR'i*"), the most likely first. Empty when
// nothing in it maps onto a phone.
std::vector<std::string> portugueseReadings(std::string_view phonemes, std::size_t most = 3);

// The accents a plain (folded) Portuguese word most likely lost, where leaving them out would
// change its sound: "configuracoes" -> "configurações", "transmissao" -> "transmissão".
std::string accented(std::string_view plainWord);

// espeak-ng's pt-br phonemizer, set up once for the process on first use. Safe from any thread;
// silent.
class PortuguesePhonemizer {
 public:
  static PortuguesePhonemizer& instance();

  // The phoneme mnemonics of each word of `text`, or nothing when espeak-ng is not usable.
  std::optional<std::vector<std::string>> phonemes(const std::string& text);

 private:
  PortuguesePhonemizer() = default;

  std::mutex lock_;
  bool tried_ = false;
  bool ready_ = false;
};

}  // namespace earshot::linux_platform
