#include "platform/linux/AppGrammar.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <sstream>

namespace earshot::linux_platform {

namespace {

// Alternatives kept per token: enough for a spelled and a read form of each part.
constexpr std::size_t maxAlternatives = 4;

constexpr std::array<std::string_view, 20> englishOnes{
    "zero",     "one",     "two",     "three",     "four",     "five",    "six",
    "seven",    "eight",   "nine",    "ten",       "eleven",   "twelve",  "thirteen",
    "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
constexpr std::array<std::string_view, 10> englishTens{
    "", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"};
constexpr std::array<std::string_view, 20> portugueseOnes{
    "zero",    "um",     "dois",      "tres",      "quatro",  "cinco",   "seis",
    "sete",    "oito",   "nove",      "dez",       "onze",    "doze",    "treze",
    "catorze", "quinze", "dezesseis", "dezessete", "dezoito", "dezenove"};
constexpr std::array<std::string_view, 10> portugueseTens{
    "",          "",         "vinte",   "trinta",  "quarenta",
    "cinquenta", "sessenta", "setenta", "oitenta", "noventa"};

// How English speakers name the letters when they spell an acronym.
constexpr std::array<std::string_view, 26> englishLetters{"EY",
                                                          "B IY",
                                                          "S IY",
                                                          "D IY",
                                                          "IY",
                                                          "EH F",
                                                          "JH IY",
                                                          "EY CH",
                                                          "AY",
                                                          "JH EY",
                                                          "K EY",
                                                          "EH L",
                                                          "EH M",
                                                          "EH N",
                                                          "OW",
                                                          "P IY",
                                                          "K Y UW",
                                                          "AA R",
                                                          "EH S",
                                                          "T IY",
                                                          "Y UW",
                                                          "V IY",
                                                          "D AH B AH L Y UW",
                                                          "EH K S",
                                                          "W AY",
                                                          "Z IY"};

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isLetter(char c) {
  return c >= 'a' && c <= 'z';
}

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> result;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator = " ") {
  std::string result;
  for (const auto& part : parts) {
    if (part.empty()) continue;
    if (!result.empty()) result += separator;
    result += part;
  }
  return result;
}

std::vector<std::string> under100(unsigned value, RecognizerLanguage language) {
  const bool portuguese = language == RecognizerLanguage::brazilianPortuguese;
  const auto& ones = portuguese ? portugueseOnes : englishOnes;
  const auto& tens = portuguese ? portugueseTens : englishTens;
  if (value < 20) return {std::string(ones[value])};
  std::vector<std::string> result{std::string(tens[value / 10])};
  if (value % 10 != 0) {
    if (portuguese) result.emplace_back("e");
    result.emplace_back(ones[value % 10]);
  }
  return result;
}

// Every combination of one alternative per part, joined, at most `maxAlternatives`.
std::vector<std::string> combine(const std::vector<std::vector<std::string>>& parts) {
  std::vector<std::string> result{""};
  for (const auto& choices : parts) {
    if (choices.empty()) return {};
    std::vector<std::string> next;
    for (const auto& head : result)
      for (const auto& choice : choices) {
        if (next.size() == maxAlternatives) break;
        next.push_back(head.empty() ? choice : head + " " + choice);
      }
    result = std::move(next);
  }
  return result;
}

std::optional<std::string> spelled(std::string_view letters, const Lexicon& lexicon) {
  std::vector<std::string> parts;
  for (char c : letters) {
    if (!isLetter(c)) return std::nullopt;
    if (lexicon.language == RecognizerLanguage::english) {
      parts.emplace_back(englishLetters[static_cast<std::size_t>(c - 'a')]);
    } else {
      auto found = lexicon.lookup ? lexicon.lookup(std::string(1, c)) : std::nullopt;
      if (!found) return std::nullopt;
      parts.push_back(*found);
    }
  }
  return joined(parts);
}

bool looksLikeAcronym(const std::string& letters, const Lexicon& lexicon) {
  const bool vowel = std::any_of(letters.begin(), letters.end(), [](char c) {
    return std::string_view("aeiouy").find(c) != std::string_view::npos;
  });
  return !vowel || letters.size() <= 3 || (lexicon.readsAsWord && !lexicon.readsAsWord(letters));
}

std::vector<std::string> letterPronunciations(const std::string& letters, const Lexicon& lexicon) {
  if (lexicon.lookup) {
    if (auto known = lexicon.lookup(letters)) return {*known};
  }
  std::vector<std::string> result;
  auto spelling = spelled(letters, lexicon);
  auto guessed = lexicon.guess ? lexicon.guess(letters) : std::nullopt;
  // An acronym may be spelled or read ("obs", "kdenlive"): both ways are heard.
  if (looksLikeAcronym(letters, lexicon) && spelling) result.push_back(*spelling);
  if (guessed) result.push_back(*guessed);
  if (result.empty() && spelling) result.push_back(*spelling);
  return result;
}

std::vector<std::string> digitPronunciations(const std::string& digits, const Lexicon& lexicon) {
  std::vector<std::string> result;
  for (const auto& said : numberWords(digits, lexicon.language)) {
    std::vector<std::string> phones;
    for (const auto& word : said) {
      auto found = lexicon.lookup ? lexicon.lookup(word) : std::nullopt;
      if (!found) {
        phones.clear();
        break;
      }
      phones.push_back(*found);
    }
    if (!phones.empty()) result.push_back(joined(phones));
  }
  return result;
}

}  // namespace

std::vector<std::vector<std::string>> numberWords(std::string_view digits,
                                                  RecognizerLanguage language) {
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit)) return {};
  const auto& ones = language == RecognizerLanguage::english ? englishOnes : portugueseOnes;
  std::vector<std::vector<std::string>> result;
  if (digits.size() <= 2 && (digits.size() == 1 || digits[0] != '0')) {
    result.push_back(under100(static_cast<unsigned>(std::stoul(std::string(digits))), language));
    return result;
  }
  if (language == RecognizerLanguage::english && digits.size() == 4 && digits[0] != '0' &&
      digits[2] != '0') {
    auto pairs =
        under100(static_cast<unsigned>(std::stoul(std::string(digits.substr(0, 2)))), language);
    auto rest =
        under100(static_cast<unsigned>(std::stoul(std::string(digits.substr(2)))), language);
    pairs.insert(pairs.end(), rest.begin(), rest.end());
    result.push_back(pairs);
  }
  std::vector<std::string> each;
  for (char c : digits) each.emplace_back(ones[static_cast<std::size_t>(c - '0')]);
  result.push_back(each);
  return result;
}

std::vector<std::string> pronunciations(const std::string& token, const Lexicon& lexicon) {
  if (token.empty()) return {};
  // Runs of letters and of digits, each said its own way: "mp3" is "m p" then "three".
  std::vector<std::vector<std::string>> parts;
  std::size_t start = 0;
  while (start < token.size()) {
    const bool digits = isDigit(token[start]);
    std::size_t end = start;
    while (end < token.size() && isDigit(token[end]) == digits && (digits || isLetter(token[end])))
      ++end;
    if (end == start) return {};  // a character that neither a letter nor a digit
    const std::string run = token.substr(start, end - start);
    parts.push_back(digits ? digitPronunciations(run, lexicon)
                           : letterPronunciations(run, lexicon));
    start = end;
  }
  return combine(parts);
}

std::string AppGrammar::text(std::string_view hypothesis) const {
  auto said = words(hypothesis);
  for (auto& word : said) {
    if (word.starts_with(garbagePrefix)) return "";
    if (!tag.empty() && word.size() > tag.size() && word.ends_with(tag))
      word.resize(word.size() - tag.size());
  }
  if (!closingWords.empty() && said.size() > closingWords.size() &&
      std::equal(closingWords.begin(), closingWords.end(),
                 said.end() - static_cast<std::ptrdiff_t>(closingWords.size())))
    said.resize(said.size() - closingWords.size());
  if (said.empty()) return "";
  auto in = [](const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
  };
  // The longest name that ends the hypothesis after command and filler words only: a name may
  // itself begin with a filler word ("the sims").
  for (std::size_t first = 0; first < said.size(); ++first) {
    bool leadingOnly = true;
    for (std::size_t i = 0; i < first && leadingOnly; ++i)
      leadingOnly = (i == 0 && in(commandWords, said[i])) || in(fillerWords, said[i]);
    if (!leadingOnly) break;
    const std::string name =
        joined({said.begin() + static_cast<std::ptrdiff_t>(first), said.end()});
    if (nameSet.contains(name)) return name;
  }
  return "";
}

AppGrammar makeAppGrammar(const AppVocabulary& vocabulary, const Lexicon& lexicon) {
  AppGrammar grammar;
  grammar.tag = lexicon.tag;
  std::map<std::string, std::vector<std::string>> added;  // token -> pronunciations
  std::set<std::string> unsayable;
  std::set<std::string> phones;
  auto notePhones = [&](const std::string& pronunciation) {
    for (const auto& phone : words(pronunciation)) phones.insert(phone);
  };
  // Whether the recognizer can say the token, adding what the dictionary lacks.
  auto sayableAs = [&](const std::string& token, WordRole role) {
    if (added.contains(token)) return true;
    if (unsayable.contains(token)) return false;
    if (!lexicon.readings) {
      if (auto known = lexicon.lookup ? lexicon.lookup(token) : std::nullopt) {
        notePhones(*known);
        return true;
      }
    }
    auto made = lexicon.readings ? lexicon.readings(token, role) : pronunciations(token, lexicon);
    if (made.size() > maxAlternatives) made.resize(maxAlternatives);
    if (made.empty()) {
      unsayable.insert(token);
      return false;
    }
    for (const auto& pronunciation : made) notePhones(pronunciation);
    added.emplace(token, std::move(made));
    grammar.additions.push_back({token, added[token]});
    return true;
  };
  auto sayable = [&](const std::string& token) { return sayableAs(token, WordRole::name); };

  for (const auto& word : vocabulary.commandWords)
    if (sayableAs(word, WordRole::command)) grammar.commandWords.push_back(word);
  for (const auto& word : vocabulary.fillerWords)
    if (sayableAs(word, WordRole::filler)) grammar.fillerWords.push_back(word);
  if (std::all_of(lexicon.closingWords.begin(), lexicon.closingWords.end(),
                  [&](const std::string& word) { return sayableAs(word, WordRole::filler); }))
    grammar.closingWords = lexicon.closingWords;

  for (const auto& name : vocabulary.names) {
    auto tokens = words(name);
    if (tokens.empty()) continue;
    const std::string key = joined(tokens);
    if (grammar.nameSet.contains(key)) continue;
    if (!std::all_of(tokens.begin(), tokens.end(), sayable)) continue;
    grammar.nameSet.insert(key);
    grammar.names.push_back(std::move(tokens));
  }
  // The first words of a longer name can be said alone ("telegram" for "telegram desktop"): the
  // lookup takes a name's leading words for the name.
  const std::size_t whole = grammar.names.size();
  for (std::size_t n = 0; n < whole; ++n) {
    for (std::size_t count = 1; count < grammar.names[n].size(); ++count) {
      std::vector<std::string> leading(
          grammar.names[n].begin(), grammar.names[n].begin() + static_cast<std::ptrdiff_t>(count));
      if (grammar.nameSet.insert(joined(leading)).second)
        grammar.names.push_back(std::move(leading));
    }
  }
  grammar.phones.assign(phones.begin(), phones.end());
  return grammar;
}

}  // namespace earshot::linux_platform
