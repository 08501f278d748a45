#include "platform/linux/PortuguesePhones.hpp"

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <array>
#include <sstream>

namespace earshot::linux_platform {

namespace {

// How sure the mapping is of a sound; the variants change the doubtful ones, most doubtful first.
enum Doubt { sure = -1, rSound = 0, finalVowel = 1, nasal = 2, vowelQuality = 3 };

struct Segment {
  std::vector<std::string> options;  // first choice first; "" says nothing
  int doubt = sure;
};

bool isMark(char c) {
  return std::string_view("',;_:!=#%|").find(c) != std::string_view::npos;
}
bool isVowel(char c) {
  return std::string_view("a&eEiIoOuUy@").find(c) != std::string_view::npos;
}
bool isGlide(char c) {
  return std::string_view("UIiwj").find(c) != std::string_view::npos;
}

// The next character that is not a stress or syllable mark, from `at` on; 0 at the end.
char nextSound(std::string_view text, std::size_t at) {
  for (; at < text.size(); ++at)
    if (!isMark(text[at]) && text[at] != '-') return text[at];
  return 0;
}

Segment vowel(char nucleus, bool last) {
  switch (nucleus) {
    case 'a':
      return {{"AA", "AH"}, vowelQuality};
    case '&':
      return {{"AH", "AA"}, last ? finalVowel : vowelQuality};
    case 'e':
      return {{"EY", "EH"}, vowelQuality};
    case 'E':
      return {{"EH"}, sure};
    case 'o':
      return {{"OW", "AO"}, vowelQuality};
    case 'O':
      return {{"AO"}, sure};
    case 'u':
      return {{"UW"}, sure};
    case 'U':
      return last ? Segment{{"UW", "UH"}, finalVowel} : Segment{{"UW"}, sure};
    case 'y':
      return {{"IY", "IH"}, last ? finalVowel : vowelQuality};
    case 'i':
    case 'I':
      return last ? Segment{{"IY", "IH"}, finalVowel} : Segment{{"IY"}, sure};
    default:
      return {{"AH"}, sure};  // '@'
  }
}

// A vowel and the glide after it as one English diphthong, when English has one.
std::optional<std::string> diphthong(char nucleus, char glide) {
  const bool toU = glide == 'U' || glide == 'w';
  const bool toI = glide == 'i' || glide == 'I' || glide == 'j';
  if ((nucleus == 'a' || nucleus == '&') && toU) return "AW";
  if ((nucleus == 'a' || nucleus == '&') && toI) return "AY";
  if ((nucleus == 'e' || nucleus == 'E') && toI) return "EY";
  if ((nucleus == 'o' || nucleus == 'O') && toI) return "OY";
  if (nucleus == 'o' && toU) return "OW";
  return std::nullopt;
}

std::vector<Segment> segments(std::string_view text) {
  std::vector<Segment> out;
  std::size_t at = 0;
  auto ends = [&](std::size_t from) { return nextSound(text, from) == 0; };
  while (at < text.size()) {
    const char c = text[at];
    const char next = at + 1 < text.size() ? text[at + 1] : 0;
    if (isMark(c) || c == '-') {
      ++at;
      continue;
    }
    if (c == '@' && next == '-') {  // the faint vowel espeak-ng puts after an r before a consonant
      at += 2;
      continue;
    }
    if (c == 't' && next == 'S') {
      out.push_back({{"CH"}});
      at += 2;
      continue;
    }
    if (c == 'd' && next == 'Z') {
      out.push_back({{"JH"}});
      at += 2;
      continue;
    }
    if ((c == 'n' || c == 'l') && next == '^') {
      out.push_back({{c == 'n' ? "N" : "L"}});
      out.push_back({{"Y"}});
      at += 2;
      continue;
    }
    if (isVowel(c)) {
      std::size_t after = at + 1;
      bool nasalised = false;
      if (after < text.size() && text[after] == '~') {
        nasalised = true;
        ++after;
      }
      // A glide right after the vowel (no mark between) belongs to its syllable.
      const char glide = after < text.size() ? text[after] : 0;
      const bool glides = c != '@' && isGlide(glide) && glide != c;
      if (glides) {
        ++after;
        if (after < text.size() && text[after] == '~') {
          nasalised = true;
          ++after;
        }
        if (auto both = diphthong(c, glide)) {
          out.push_back({{*both}});
        } else {
          out.push_back(vowel(c, false));
          out.push_back({{glide == 'U' || glide == 'w' ? "W" : "Y"}});
        }
      } else {
        out.push_back(vowel(c, !nasalised && ends(after)));
      }
      // A nasal consonant written after the vowel already says its nasality.
      const char following = nextSound(text, after);
      if (nasalised && following != 'N' && following != 'n' && following != 'm')
        out.push_back({{"N", "NG"}, nasal});
      at = after;
      continue;
    }
    ++at;
    const bool last = ends(at);
    switch (c) {
      case 'p':
      case 'b':
      case 't':
      case 'd':
      case 'k':
      case 'g':
      case 'f':
      case 'v':
      case 's':
      case 'z':
      case 'm':
      case 'n':
      case 'l': {
        std::string phone(1, static_cast<char>(c - 'a' + 'A'));
        out.push_back({{phone}});
        break;
      }
      case 'S':
        out.push_back({{"SH"}});
        break;
      case 'Z':
        out.push_back({{"ZH"}});
        break;
      case 'h':
        out.push_back({{"HH"}});
        break;
      case 'j':
        out.push_back({{"Y"}});
        break;
      case 'w':
        out.push_back({{"W"}});
        break;
      case 'x':
        out.push_back({{"HH", "R"}, rSound});
        break;
      case 'R':
        out.push_back({{"R"}});
        break;
      case 'r':
      case '*':
        if (last)
          out.push_back({{"R", "HH", ""}, rSound});
        else if (c == '*' && isVowel(nextSound(text, at)) && !(text.substr(at).starts_with("@-")))
          out.push_back({{"D", "R"}, rSound});
        else if (c == '*')  // before a consonant: the r that closes a syllable
          out.push_back({{"R", "HH"}, rSound});
        else
          out.push_back({{"R"}});
        break;
      case 'N': {
        const char following = nextSound(text, at);
        if (following == 'p' || following == 'b')
          out.push_back({{"M"}});
        else
          out.push_back({{"N", "NG"}, nasal});
        break;
      }
      default:
        break;  // a symbol with no English counterpart is left out
    }
  }
  return out;
}

// Which choice each kind of doubt takes in one variant.
constexpr std::array<std::array<std::size_t, 4>, 4> profiles{{
    {0, 0, 0, 0},
    {1, 0, 0, 0},
    {2, 1, 0, 0},
    {1, 1, 1, 1},
}};

}  // namespace

std::vector<std::string> portugueseReadings(std::string_view phonemes, std::size_t most) {
  const auto parts = segments(phonemes);
  std::vector<std::string> result;
  for (const auto& profile : profiles) {
    if (result.size() >= most) break;
    std::string reading;
    for (const auto& part : parts) {
      std::size_t choice = 0;
      if (part.doubt != sure)
        choice = std::min(profile[static_cast<std::size_t>(part.doubt)], part.options.size() - 1);
      const std::string& phone = part.options[choice];
      if (phone.empty()) continue;
      if (!reading.empty()) reading += ' ';
      reading += phone;
    }
    if (!reading.empty() && std::find(result.begin(), result.end(), reading) == result.end())
      result.push_back(std::move(reading));
  }
  return result;
}

std::string accented(std::string_view plainWord) {
  std::string word(plainWord);
  auto replaceEnd = [&word](std::string_view ending, std::string_view with) {
    if (word.size() <= ending.size() || !word.ends_with(ending)) return false;
    word.replace(word.size() - ending.size(), ending.size(), with);
    return true;
  };
  if (replaceEnd("coes", "ções") || replaceEnd("cao", "ção") || replaceEnd("oes", "ões") ||
      replaceEnd("aes", "ães") || replaceEnd("ao", "ão"))
    return word;
  return word;
}

PortuguesePhonemizer& PortuguesePhonemizer::instance() {
  static PortuguesePhonemizer phonemizer;
  return phonemizer;
}

std::optional<std::vector<std::string>> PortuguesePhonemizer::phonemes(const std::string& text) {
  std::lock_guard guard(lock_);
  if (!tried_) {
    tried_ = true;
    // No audio device: the phonemizer only. DONT_EXIT keeps a missing data folder from ending
    // the process.
    ready_ =
        espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT) > 0 &&
        espeak_SetVoiceByName("pt-br") == EE_OK;
  }
  if (!ready_) return std::nullopt;
  std::vector<std::string> words;
  const void* rest = text.c_str();
  while (rest) {
    const char* clause = espeak_TextToPhonemes(&rest, espeakCHARS_UTF8, 0);
    if (!clause) break;
    std::istringstream in{std::string(clause)};
    for (std::string word; in >> word;) words.push_back(word);
  }
  return words;
}

}  // namespace earshot::linux_platform
