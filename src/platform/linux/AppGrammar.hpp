#pragma once

// The application-command grammar as words and pronunciations, before it becomes a decoder's
// search: which names can be said, how the words the dictionary lacks are pronounced, and which
// name a hypothesis stands for.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Speech.hpp"
#include "platform/linux/RecognizerLanguage.hpp"

namespace earshot::linux_platform {

// Where a word stands in a command: a language may say its command and filler words differently
// inside a sentence.
enum class WordRole { command, filler, name };

// What the grammar needs to know about one language's dictionary.
struct Lexicon {
  using Lookup = std::function<std::optional<std::string>(const std::string& word)>;

  // The dictionary's pronunciation of a word (phones separated by spaces), or nothing.
  Lookup lookup;
  // A pronunciation made up for a word the dictionary lacks, or nothing (no letter-to-sound rules
  // for the language).
  Lookup guess;
  // Whether a reader would read the letters as a word rather than spell them; without it, short
  // words and words without vowels count as spelled.
  std::function<bool(const std::string& letters)> readsAsWord;
  RecognizerLanguage language = RecognizerLanguage::english;  // how digits and letters are said

  // When set, every word is pronounced by these readings (first the main one) and none by the
  // dictionary: the language is not the model's own.
  std::function<std::vector<std::string>(const std::string& word, WordRole role)> readings;
  // Marks this language's words apart from the dictionary's words of the same spelling.
  std::string tag;
  // Words that may close a command together ("por favor").
  std::vector<std::string> closingWords;
};

struct AppGrammar {
  // Words the dictionary lacks, each with its pronunciations (the first is the main one).
  struct Addition {
    std::string word;
    std::vector<std::string> pronunciations;
  };

  std::vector<std::string> commandWords;  // those the language can say
  std::vector<std::string> fillerWords;
  // The words of each name that can be said, then of their leading words.
  std::vector<std::vector<std::string>> names;
  std::vector<Addition> additions;
  std::vector<std::string> phones;        // every phone used, for the garbage loop
  std::vector<std::string> closingWords;  // said together after the name, or not at all
  std::string tag;                        // what the recognizer's form of each word ends with

  // The recognizer's form of a word of the grammar.
  std::string tagged(const std::string& word) const { return word + tag; }

  // The name a hypothesis is: its words after at most one command word and any filler words.
  // Empty for anything else, such as a hypothesis that went through the garbage loop.
  std::string text(std::string_view hypothesis) const;

  std::unordered_set<std::string> nameSet;  // the names joined by spaces
};

// Words of the garbage loop carry this prefix; a hypothesis that holds one is rejected.
inline constexpr std::string_view garbagePrefix = "+garbage+";

AppGrammar makeAppGrammar(const AppVocabulary& vocabulary, const Lexicon& lexicon);

// The pronunciations of one token of a name that the dictionary lacks: digits said as a number,
// acronyms spelled, other words from the letter-to-sound rules. Empty when it cannot be said.
std::vector<std::string> pronunciations(const std::string& token, const Lexicon& lexicon);

// Ways to say a number in words: "42" -> "forty two"; beyond 99 or with a leading zero, digit by
// digit, and four digits also as two pairs in English ("2019" -> "twenty nineteen").
std::vector<std::vector<std::string>> numberWords(std::string_view digits,
                                                  RecognizerLanguage language);

}  // namespace earshot::linux_platform
