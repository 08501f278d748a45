// The application grammar's words: what can be said, how unknown words are pronounced, and which
// name a hypothesis stands for.
#include <gtest/gtest.h>

#include <map>

#include "platform/linux/AppGrammar.hpp"
#include "platform/linux/LetterToSound.hpp"

using namespace earshot;
using earshot::linux_platform::AppGrammar;
using earshot::linux_platform::Lexicon;
using earshot::linux_platform::WordRole;

namespace {

// A small dictionary in the model's phone set; unknown words get a marked made-up pronunciation.
Lexicon testLexicon(bool withGuesses = true) {
  static const std::map<std::string, std::string> dictionary{{"open", "OW P AH N"},
                                                             {"the", "DH AH"},
                                                             {"a", "AH"},
                                                             {"firefox", "F AY ER F AO K S"},
                                                             {"studio", "S T UW D IY OW"},
                                                             {"code", "K OW D"},
                                                             {"two", "T UW"},
                                                             {"three", "TH R IY"},
                                                             {"twenty", "T W EH N T IY"},
                                                             {"nineteen", "N AY N T IY N"},
                                                             {"zero", "Z IH R OW"},
                                                             {"one", "W AH N"},
                                                             {"nine", "N AY N"},
                                                             {"x", "EH K S"},
                                                             {"um", "UH M"},
                                                             {"dois", "D OY S"}};
  Lexicon lexicon;
  lexicon.lookup = [](const std::string& word) -> std::optional<std::string> {
    auto found = dictionary.find(word);
    if (found == dictionary.end()) return std::nullopt;
    return found->second;
  };
  if (withGuesses)
    lexicon.guess = [](const std::string& word) -> std::optional<std::string> {
      return "G(" + word + ")";
    };
  return lexicon;
}

AppVocabulary vocabulary(std::vector<std::string> names) {
  return {{"open", "abrir"}, {"the", "a"}, std::move(names)};
}

std::vector<std::string> joinedNames(const AppGrammar& grammar) {
  std::vector<std::string> result;
  for (const auto& words : grammar.names) {
    std::string name;
    for (const auto& word : words) name += (name.empty() ? "" : " ") + word;
    result.push_back(name);
  }
  return result;
}

std::vector<std::string> additionFor(const AppGrammar& grammar, const std::string& word) {
  for (const auto& addition : grammar.additions)
    if (addition.word == word) return addition.pronunciations;
  return {};
}

}  // namespace

TEST(AppGrammar, NamesAreKeptOnceInOrderAndUnsayableOnesDropped) {
  const auto grammar = makeAppGrammar(
      vocabulary({"firefox", "obs studio", "firefox", "x", "  firefox  ", "日本", "", "vs code"}),
      testLexicon());
  // The leading words of longer names come after the names.
  EXPECT_EQ(joinedNames(grammar),
            (std::vector<std::string>{"firefox", "obs studio", "x", "vs code", "obs", "vs"}));
  // Words of other scripts have no pronunciation: the name cannot be said.
  EXPECT_TRUE(additionFor(grammar, "日本").empty());
}

TEST(AppGrammar, OnlyMissingWordsAreAddedAndEachOnce) {
  const auto grammar = makeAppGrammar(vocabulary({"inkscape", "inkscape studio"}), testLexicon());
  ASSERT_EQ(grammar.additions.size(), 2u);  // "abrir" and "inkscape"; the rest are known
  EXPECT_EQ(grammar.additions[0].word, "abrir");
  EXPECT_EQ(grammar.additions[1].word, "inkscape");
  EXPECT_EQ(grammar.additions[1].pronunciations, (std::vector<std::string>{"G(inkscape)"}));
}

TEST(AppGrammar, WithoutLetterToSoundOnlyDictionaryWordsAndNumbersRemain) {
  Lexicon lexicon = testLexicon(false);
  lexicon.language = linux_platform::RecognizerLanguage::brazilianPortuguese;
  const auto grammar = makeAppGrammar(vocabulary({"inkscape", "firefox 2", "x"}), lexicon);
  EXPECT_EQ(grammar.commandWords, (std::vector<std::string>{"open"}));
  EXPECT_EQ(joinedNames(grammar), (std::vector<std::string>{"firefox 2", "x", "firefox"}));
  EXPECT_EQ(additionFor(grammar, "2"), (std::vector<std::string>{"D OY S"}));
}

TEST(AppGrammar, LeadingWordsOfLongerNamesCanBeSaidAloneOnce) {
  const auto grammar = makeAppGrammar(
      vocabulary({"libreoffice writer", "libreoffice calc", "visual studio code", "visual"}),
      testLexicon());
  EXPECT_EQ(
      joinedNames(grammar),
      (std::vector<std::string>{"libreoffice writer", "libreoffice calc", "visual studio code",
                                "visual", "libreoffice", "visual studio"}));
  EXPECT_EQ(grammar.text("open libreoffice"), "libreoffice");
  EXPECT_EQ(grammar.text("open writer"), "");
}

TEST(AppGrammar, PhonesOfTheGarbageLoopAreThoseTheGrammarUses) {
  const auto grammar = makeAppGrammar(vocabulary({"code"}), testLexicon());
  for (const char* phone : {"K", "OW", "D", "DH", "AH"})
    EXPECT_NE(std::find(grammar.phones.begin(), grammar.phones.end(), phone), grammar.phones.end())
        << phone;
}

struct TokenCase {
  const char* token;
  std::vector<std::string> expected;
};

class Pronunciations : public ::testing::TestWithParam<TokenCase> {};

TEST_P(Pronunciations, OfTokensTheDictionaryLacks) {
  EXPECT_EQ(linux_platform::pronunciations(GetParam().token, testLexicon()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, Pronunciations,
    ::testing::Values(
        // Digits are said as a number.
        TokenCase{"2", {"T UW"}}, TokenCase{"23", {"T W EH N T IY TH R IY"}},
        // Four digits as pairs or digit by digit; a leading zero only digit by digit.
        TokenCase{"1919", {"N AY N T IY N N AY N T IY N", "W AH N N AY N W AH N N AY N"}},
        TokenCase{"09", {"Z IH R OW N AY N"}},
        // Short words and words without vowels are spelled, and also read.
        TokenCase{"obs", {"OW B IY EH S", "G(obs)"}},
        TokenCase{"vlc", {"V IY EH L S IY", "G(vlc)"}}, TokenCase{"gimp", {"G(gimp)"}},
        // Letters and digits together: each run its own way.
        TokenCase{"x2", {"EH K S T UW"}}, TokenCase{"mp3", {"EH M P IY TH R IY", "G(mp) TH R IY"}},
        // A number with a word missing from the dictionary cannot be said.
        TokenCase{"45", {}}, TokenCase{"", {}}, TokenCase{"a-b", {}}));

TEST(NumberWords, EnglishAndPortuguese) {
  using Said = std::vector<std::vector<std::string>>;
  constexpr auto english = linux_platform::RecognizerLanguage::english;
  constexpr auto portuguese = linux_platform::RecognizerLanguage::brazilianPortuguese;
  EXPECT_EQ(linux_platform::numberWords("7", english), (Said{{"seven"}}));
  EXPECT_EQ(linux_platform::numberWords("40", english), (Said{{"forty"}}));
  EXPECT_EQ(linux_platform::numberWords("365", english), (Said{{"three", "six", "five"}}));
  EXPECT_EQ(linux_platform::numberWords("2000", english), (Said{{"two", "zero", "zero", "zero"}}));
  EXPECT_EQ(linux_platform::numberWords("21", portuguese), (Said{{"vinte", "e", "um"}}));
  EXPECT_EQ(linux_platform::numberWords("12a", english), Said{});
}

struct HypothesisCase {
  const char* hypothesis;
  const char* expected;
};

class HypothesisText : public ::testing::TestWithParam<HypothesisCase> {};

TEST_P(HypothesisText, IsTheNameAfterCommandAndFillerWords) {
  static const auto grammar =
      makeAppGrammar(vocabulary({"firefox", "the sims", "a", "code", "visual studio code", "open"}),
                     testLexicon());
  EXPECT_EQ(grammar.text(GetParam().hypothesis), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Hypotheses, HypothesisText,
    ::testing::Values(HypothesisCase{"open firefox", "firefox"},
                      HypothesisCase{"open the a firefox", "firefox"},
                      HypothesisCase{"firefox", "firefox"},
                      // A name that begins with a filler word keeps it.
                      HypothesisCase{"open the sims", "the sims"},
                      // A one-letter name that is also a filler word.
                      HypothesisCase{"open a", "a"}, HypothesisCase{"the a", "a"},
                      // A name that is a command word.
                      HypothesisCase{"open", "open"},
                      // The longest name that ends the hypothesis.
                      HypothesisCase{"visual studio code", "visual studio code"},
                      // Anything through the garbage loop is rejected.
                      HypothesisCase{"open +garbage+AA +garbage+K", ""},
                      HypothesisCase{"+garbage+K code", ""},
                      // A command word only comes first; no other word before a name.
                      HypothesisCase{"the open firefox", ""}, HypothesisCase{"firefox code", ""},
                      HypothesisCase{"", ""}, HypothesisCase{"   ", ""}));

TEST(LetterToSound, PronouncesUnknownNamesInTheModelsPhones) {
  auto& english = linux_platform::LetterToSound::english();
  EXPECT_EQ(english.phones("inkscape"), "IH NG K S K EY P");
  EXPECT_EQ(english.phones("gimp"), "G IH M P");
  // The reduced vowel becomes the model's AH.
  EXPECT_EQ(english.phones("libreoffice"), "L AH B R AO F AH S");
  EXPECT_EQ(english.phones("Gimp"), std::nullopt);
  EXPECT_EQ(english.phones("x11"), std::nullopt);
  EXPECT_EQ(english.phones(""), std::nullopt);
  EXPECT_TRUE(english.readsAsWord("gimp"));
  EXPECT_FALSE(english.readsAsWord("kdenlive"));
  EXPECT_FALSE(english.readsAsWord("vlc"));
}

TEST(LetterToSound, MapsFlitePhones) {
  EXPECT_EQ(linux_platform::sphinxPhone("ih1"), "IH");
  EXPECT_EQ(linux_platform::sphinxPhone("ax0"), "AH");
  EXPECT_EQ(linux_platform::sphinxPhone("axr"), "ER");
  EXPECT_EQ(linux_platform::sphinxPhone("ng"), "NG");
  EXPECT_EQ(linux_platform::sphinxPhone("pau"), "");
  EXPECT_EQ(linux_platform::sphinxPhone(""), "");
}

// A language read by its own readings on another language's model: every word is added under its
// tag, command and filler words are read as they sound in a command, and "por favor" may close it.
TEST(AppGrammar, ReadingsOfAnotherLanguageAreTaggedAndMayCloseWithTheirWords) {
  Lexicon lexicon = testLexicon();
  lexicon.tag = "_pt";
  lexicon.closingWords = {"por", "favor"};
  std::vector<std::pair<std::string, WordRole>> asked;
  lexicon.readings = [&asked](const std::string& word, WordRole role) {
    asked.emplace_back(word, role);
    if (word == "unsayable") return std::vector<std::string>{};
    return std::vector<std::string>{"R1(" + word + ")", "R2", "R3", "R4", "R5"};
  };
  AppVocabulary words{{"abrir"}, {"o"}, {"terminal", "firefox", "unsayable app", "o"}};
  const auto grammar = makeAppGrammar(words, lexicon);
  // The dictionary knows "firefox", yet it gets the readings too; at most four of them.
  EXPECT_EQ(additionFor(grammar, "firefox"),
            (std::vector<std::string>{"R1(firefox)", "R2", "R3", "R4"}));
  EXPECT_EQ(joinedNames(grammar), (std::vector<std::string>{"terminal", "firefox", "o"}));
  EXPECT_EQ(grammar.closingWords, (std::vector<std::string>{"por", "favor"}));
  EXPECT_EQ(grammar.tagged("o"), "o_pt");
  const std::vector<std::pair<std::string, WordRole>> roles(asked.begin(), asked.begin() + 3);
  EXPECT_EQ(roles,
            (std::vector<std::pair<std::string, WordRole>>{
                {"abrir", WordRole::command}, {"o", WordRole::filler}, {"por", WordRole::filler}}));

  const std::vector<std::pair<const char*, const char*>> hypotheses{
      {"abrir_pt o_pt terminal_pt", "terminal"},
      {"abrir_pt terminal_pt por_pt favor_pt", "terminal"},
      {"firefox_pt por_pt favor_pt", "firefox"},
      // the closing words alone, or half of them, name nothing
      {"por_pt favor_pt", ""},
      {"terminal_pt por_pt", ""},
      {"abrir_pt o_pt", "o"},
      {"abrir_pt +garbage+AA", ""},
  };
  for (const auto& [hypothesis, name] : hypotheses)
    EXPECT_EQ(grammar.text(hypothesis), name) << hypothesis;
}
