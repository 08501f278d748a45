#include "platform/linux/GrammarSearch.hpp"

#include <pocketsphinx.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "platform/linux/LetterToSound.hpp"
#include "platform/linux/PortuguesePhones.hpp"
#include "platform/linux/SphinxModels.hpp"

namespace earshot::linux_platform {

namespace {

constexpr const char* searchName = "earshot-app-names";
constexpr const char* modelSearch = "_default";

std::mutex& costsLock() {
  static std::mutex lock;
  return lock;
}
GrammarCosts& currentCosts() {
  static GrammarCosts costs;
  return costs;
}

constexpr std::size_t portugueseVariants = 3;

// Portuguese readings of one word: its own, and for command and filler words the form espeak-ng
// gives them inside a command.
std::vector<std::string> portugueseWord(const std::string& word, WordRole role) {
  auto& phonemizer = PortuguesePhonemizer::instance();
  std::vector<std::string> result;
  auto add = [&result](const std::vector<std::string>& readings) {
    for (const auto& reading : readings)
      if (std::find(result.begin(), result.end(), reading) == result.end())
        result.push_back(reading);
  };
  const std::string written = accented(word);
  std::optional<std::vector<std::string>> inside;
  std::size_t position = 0;
  if (role == WordRole::command) {
    inside = phonemizer.phonemes(written + " o navegador");
  } else if (role == WordRole::filler) {
    inside = phonemizer.phonemes("abrir " + written + " navegador");
    position = 1;
  }
  if (inside && inside->size() == 3) add(portugueseReadings((*inside)[position], 2));
  auto alone = phonemizer.phonemes(written);
  if (alone && alone->size() == 1) add(portugueseReadings(alone->front(), portugueseVariants));
  return result;
}

// The dictionary as the model shipped it: words this process added are made again, so that a
// grammar built on one decoder installs on any other of the language.
Lexicon lexicon(ps_decoder_t* decoder, const GrammarState& known, GrammarWords words) {
  const bool modelIsEnglish = words.model == RecognizerLanguage::english;
  Lexicon result;
  result.language = words.model;
  result.lookup = [decoder, &known](const std::string& word) -> std::optional<std::string> {
    if (known.added.contains(word)) return std::nullopt;
    char* phones = ps_lookup_word(decoder, word.c_str());
    if (!phones) return std::nullopt;
    std::string text(phones);
    std::free(phones);
    return text;
  };
  if (modelIsEnglish) {
    result.guess = [](const std::string& word) { return LetterToSound::english().phones(word); };
    result.readsAsWord = [](const std::string& word) {
      return LetterToSound::english().readsAsWord(word);
    };
  }
  if (modelIsEnglish && words.said == RecognizerLanguage::brazilianPortuguese) {
    Lexicon englishWords = result;
    result.language = words.said;
    result.tag = "_pt";
    result.closingWords = {"por", "favor"};
    // Names are often English ("spotify", "steam"): their English reading joins the Portuguese.
    result.readings = [englishWords](const std::string& word, WordRole role) {
      // English filler words read as Portuguese would only soak up the start of a name.
      if (role == WordRole::filler && (word == "the" || word == "my"))
        return std::vector<std::string>{};
      auto readings = portugueseWord(word, role);
      if (role != WordRole::name) return readings;
      if (readings.size() > portugueseVariants) readings.resize(portugueseVariants);
      std::optional<std::string> english = englishWords.lookup(word);
      if (!english) {
        auto made = pronunciations(word, englishWords);
        if (!made.empty()) english = made.front();
      }
      if (english && std::find(readings.begin(), readings.end(), *english) == readings.end())
        readings.push_back(*english);
      return readings;
    };
  }
  return result;
}

void addWord(ps_decoder_t* decoder, GrammarState& state, const std::string& word,
             const std::string& phones) {
  if (state.added.contains(word)) return;
  if (ps_add_word(decoder, word.c_str(), phones.c_str(), FALSE) < 0)
    throw sphinxError(SphinxError::wordRefused,
                      "The recognizer refused the word \"" + word + "\".");
  state.added.insert(word);
}

fsg_model_t* makeFsg(ps_decoder_t* decoder, const AppGrammar& grammar, const GrammarCosts& costs,
                     RecognizerLanguage said) {
  logmath_t* math = ps_get_logmath(decoder);
  const float lw = cmd_ln_float32_r(ps_get_config(decoder), "-lw");
  const int32 certain = 0;
  auto cost = [&](double probability) {
    return static_cast<int32>(logmath_log(math, probability) * lw);
  };
  const int32 garbageCost = cost(costs.of(said).garbagePhone);
  const int32 fillerCost = cost(costs.of(said).filler);

  // States: 0 start, 1 where names begin, 2 final, 3 the garbage loop, 4 and 5 after the command
  // word and after one filler word, then the ends of names, then one per shared prefix of the
  // names' words. Names end in several states that lead to the final one: adding an arc costs as
  // many steps as the arcs already between its two states.
  constexpr int32 firstEnd = 6;
  constexpr int32 ends = 64;
  std::map<std::pair<int32, std::string>, int32> prefixes;
  int32 states = firstEnd + ends;
  for (const auto& name : grammar.names) {
    int32 at = 1;
    for (std::size_t i = 0; i + 1 < name.size(); ++i) {
      auto [found, fresh] = prefixes.try_emplace({at, name[i]}, states);
      if (fresh) ++states;
      at = found->second;
    }
  }
  // After the names: where the closing words may begin, and between them.
  const int32 closing = states++;
  const int32 firstClosing = states;
  if (grammar.closingWords.size() > 1)
    states += static_cast<int32>(grammar.closingWords.size()) - 1;
  fsg_model_t* fsg = fsg_model_init(searchName, math, lw, states);
  fsg->start_state = 0;
  fsg->final_state = 2;
  std::map<std::string, std::size_t> alternatives;
  for (const auto& addition : grammar.additions)
    alternatives[addition.word] = addition.pronunciations.size();
  // Each pronunciation of a word is an arc of its own: the decoder's own search for them scans
  // every arc once per word and takes seconds for a large catalog.
  // The grammar's own word numbers: fsg_model_word_add looks a word up by scanning them all.
  std::unordered_map<std::string, int32> numbers;
  auto number = [&](const std::string& word) {
    auto [found, fresh] = numbers.try_emplace(word, 0);
    if (fresh) found->second = fsg_model_word_add(fsg, word.c_str());
    return found->second;
  };
  auto arc = [&](int32 from, int32 to, const std::string& word, int32 cost) {
    const std::string said = word.starts_with(garbagePrefix) ? word : grammar.tagged(word);
    fsg_model_trans_add(fsg, from, to, cost, number(said));
    auto found = alternatives.find(word);
    if (found == alternatives.end()) return;
    for (std::size_t i = 1; i < found->second; ++i)
      fsg_model_trans_add(fsg, from, to, cost, number(said + "(" + std::to_string(i + 1) + ")"));
  };
  fsg_model_null_trans_add(fsg, 0, 4, certain);
  for (const auto& word : grammar.commandWords) arc(0, 4, word, certain);
  fsg_model_null_trans_add(fsg, 4, 5, certain);
  fsg_model_null_trans_add(fsg, 5, 1, certain);
  for (const auto& word : grammar.fillerWords) {
    arc(4, 5, word, fillerCost);
    arc(5, 1, word, fillerCost);
  }
  for (const auto& name : grammar.names) {
    int32 at = 1;
    for (std::size_t i = 0; i + 1 < name.size(); ++i) {
      const int32 next = prefixes.at({at, name[i]});
      arc(at, next, name[i], certain);
      at = next;
    }
    arc(at, firstEnd + static_cast<int32>(std::hash<std::string>{}(name.back()) % ends),
        name.back(), certain);
  }
  for (int32 end = firstEnd; end < firstEnd + ends; ++end)
    fsg_model_null_trans_add(fsg, end, closing, certain);
  fsg_model_null_trans_add(fsg, closing, 2, certain);
  int32 at = closing;
  for (std::size_t i = 0; i < grammar.closingWords.size(); ++i) {
    const int32 next =
        i + 1 == grammar.closingWords.size() ? 2 : firstClosing + static_cast<int32>(i);
    arc(at, next, grammar.closingWords[i], fillerCost);
    at = next;
  }
  for (const auto& phone : grammar.phones) {
    const std::string word = std::string(garbagePrefix) + phone;
    arc(4, 3, word, garbageCost);
    arc(3, 3, word, garbageCost);
  }
  fsg_model_null_trans_add(fsg, 3, 2, certain);
  // The search follows one null transition at a time; chains of them need their closure.
  glist_free(fsg_model_null_trans_closure(fsg, nullptr));
  return fsg;
}

// Words added to a decoder that has a language model join the model too, slowly (a third of a
// second per thousand words) and for good. A decoder that takes application grammars gives its
// language model up, under a stand-in grammar until the real one is made.
void leaveLanguageModel(ps_decoder_t* decoder) {
  if (!hasLanguageModel(decoder)) return;
  fsg_model_t* fsg = fsg_model_init(searchName, ps_get_logmath(decoder), 1.0f, 2);
  fsg->start_state = 0;
  fsg->final_state = 1;
  fsg_model_trans_add(fsg, 0, 1, 0, fsg_model_word_add(fsg, "<sil>"));
  const int refused = ps_set_fsg(decoder, searchName, fsg);
  fsg_model_free(fsg);
  if (refused < 0 || ps_set_search(decoder, searchName) < 0)
    throw sphinxError(SphinxError::grammarRefused,
                      "The recognizer refused the application grammar.");
  ps_unset_search(decoder, modelSearch);
}

}  // namespace

bool hasLanguageModel(ps_decoder_t* decoder) {
  ps_search_iter_t* search = ps_search_iter(decoder);
  bool found = false;
  for (; search; search = ps_search_iter_next(search))
    if (std::string(ps_search_iter_val(search)) == modelSearch) found = true;
  ps_search_iter_free(search);
  return found;
}

GrammarCosts grammarCosts() {
  std::lock_guard guard(costsLock());
  return currentCosts();
}

void setGrammarCosts(const GrammarCosts& costs) {
  std::lock_guard guard(costsLock());
  currentCosts() = costs;
}

std::shared_ptr<const AppGrammar> appGrammar(ps_decoder_t* decoder, const GrammarState& given,
                                             const AppVocabulary& vocabulary, GrammarWords words) {
  struct Built {
    AppVocabulary vocabulary;
    std::shared_ptr<const AppGrammar> grammar;
  };
  static std::mutex lock;
  static std::map<GrammarWords, Built> last;
  {
    std::lock_guard guard(lock);
    if (auto found = last.find(words);
        found != last.end() && found->second.vocabulary == vocabulary)
      return found->second.grammar;
  }
  auto grammar = std::make_shared<const AppGrammar>(
      makeAppGrammar(vocabulary, lexicon(decoder, given, words)));
  std::lock_guard guard(lock);
  last[words] = Built{vocabulary, grammar};
  return grammar;
}

void useGrammar(ps_decoder_t* decoder, GrammarState& known,
                const std::shared_ptr<const AppGrammar>& grammar, GrammarCosts costs,
                RecognizerLanguage said) {
  if (known.installed != grammar || known.costs != costs || known.said != said) {
    leaveLanguageModel(decoder);
    for (const auto& addition : grammar->additions)
      for (std::size_t i = 0; i < addition.pronunciations.size(); ++i)
        addWord(decoder, known,
                grammar->tagged(addition.word) + (i == 0 ? "" : "(" + std::to_string(i + 1) + ")"),
                addition.pronunciations[i]);
    for (const auto& phone : grammar->phones)
      addWord(decoder, known, std::string(garbagePrefix) + phone, phone);
    fsg_model_t* fsg = makeFsg(decoder, *grammar, costs, said);
    // Alternative pronunciations are arcs of the grammar already.
    cmd_ln_set_boolean_r(ps_get_config(decoder), "-fsgusealtpron", FALSE);
    cmd_ln_set_float32_r(ps_get_config(decoder), "-silprob", costs.silence);
    cmd_ln_set_float32_r(ps_get_config(decoder), "-fillprob", costs.noise);
    const int refused = ps_set_fsg(decoder, searchName, fsg);
    fsg_model_free(fsg);  // the search holds its own reference
    if (refused < 0)
      throw sphinxError(SphinxError::grammarRefused,
                        "The recognizer refused the application grammar.");
    known.installed = grammar;
    known.costs = costs;
    known.said = said;
  }
  if (ps_set_search(decoder, searchName) < 0)
    throw sphinxError(SphinxError::grammarRefused,
                      "The recognizer refused the application grammar.");
}

}  // namespace earshot::linux_platform
