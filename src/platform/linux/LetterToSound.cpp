#include "platform/linux/LetterToSound.hpp"

extern "C" {
#include <flite/cst_lexicon.h>
}

#include <algorithm>
#include <array>

// flite ships no headers for its CMU lexicon and its English text rules.
extern "C" cst_lexicon* cmu_lex_init(void);
extern "C" int us_aswd(const char* word);

namespace earshot::linux_platform {

namespace {

// The phones both sets share, without stress: flite writes them in lower case with a stress digit.
constexpr std::array<std::string_view, 39> sharedPhones{
    "aa", "ae", "ah", "ao", "aw", "ay", "b",  "ch", "d", "dh", "eh", "er", "ey",
    "f",  "g",  "hh", "ih", "iy", "jh", "k",  "l",  "m", "n",  "ng", "ow", "oy",
    "p",  "r",  "s",  "sh", "t",  "th", "uh", "uw", "v", "w",  "y",  "z",  "zh"};

}  // namespace

std::string sphinxPhone(std::string_view flitePhone) {
  while (!flitePhone.empty() && flitePhone.back() >= '0' && flitePhone.back() <= '9')
    flitePhone.remove_suffix(1);
  if (flitePhone == "ax") return "AH";  // flite keeps the reduced vowel apart; the model folds it
  if (flitePhone == "axr") return "ER";
  if (std::find(sharedPhones.begin(), sharedPhones.end(), flitePhone) == sharedPhones.end())
    return "";
  std::string upper(flitePhone);
  for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

LetterToSound& LetterToSound::english() {
  static LetterToSound instance;
  return instance;
}

std::optional<std::string> LetterToSound::phones(std::string_view word) {
  if (word.empty() ||
      !std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
    return std::nullopt;
  std::lock_guard guard(lock_);
  if (auto found = known_.find(word); found != known_.end()) return found->second;
  static cst_lexicon* lexicon = cmu_lex_init();
  const std::string text(word);
  std::string result;
  cst_val* list = lex_lookup(lexicon, text.c_str(), nullptr, nullptr);
  for (const cst_val* item = list; item; item = val_cdr(item)) {
    const std::string phone = sphinxPhone(val_string(val_car(item)));
    if (phone.empty()) continue;
    if (!result.empty()) result += ' ';
    result += phone;
  }
  delete_val(list);
  known_.emplace(text, result);
  if (result.empty()) return std::nullopt;
  return result;
}

bool LetterToSound::readsAsWord(std::string_view word) {
  if (word.empty() ||
      !std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
    return false;
  std::lock_guard guard(lock_);
  return us_aswd(std::string(word).c_str()) != 0;
}

}  // namespace earshot::linux_platform
