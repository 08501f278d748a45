#pragma once

// A decoder's application-command search: the grammar of AppGrammar as a PocketSphinx finite-state
// grammar with a garbage loop beside the names, so that speech that fits no name comes out as
// garbage instead of as the nearest name.

#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Speech.hpp"
#include "platform/linux/AppGrammar.hpp"
#include "platform/linux/RecognizerLanguage.hpp"

struct ps_decoder_s;

namespace earshot::linux_platform {

// What differs with the language a command is said in: the English model fits Portuguese words
// worse, and its rejections had room to spare.
struct LanguageCosts {
  // Per phone of the garbage loop: lower forces more speech onto names, higher rejects more names.
  double garbagePhone = 0.1;
  // Per filler word (at most two) and closing word: short words such as "a" and "o" would
  // otherwise soak up any speech before a name.
  double filler = 1e-2;
  // The least a heard name may score against a free phone loop over the same audio, per frame
  // (natural log, PhoneLoopCheck). Minus infinity: no phone loop, every name heard stands.
  double verification = -std::numeric_limits<double>::infinity();
  // Warps of the frequency axis (WarpedPasses) tried when the second pass names nothing too; the
  // best-scoring hearing stands, checked like the second pass's.
  std::vector<double> warps{};

  bool operator==(const LanguageCosts&) const = default;
};

// What the paths of the grammar cost, as probabilities (below 1) against a name's, which costs
// nothing, and how the audio is heard. Chosen by measurement over voices and rooms
// (bench/app_matrix.sh, docs/benchmarks.md).
struct GrammarCosts {
  // Faint noise added to the audio, in steps of the 16-bit samples: digital silence (synthesized
  // speech, the file path's padding) otherwise gives the model frames it never saw in training.
  // The passes after the first get more: a floor of noise helps voices far from the training
  // speakers' more than it costs others, but the first pass, on the model's prior mean, then
  // rejects nearly every command, which would make every command wait for the second.
  double firstPassDither = 32;
  double dither = 128;
  // Per frame of silence and of noise (the model's noise word) anywhere in a command, as the
  // decoder's -silprob and -fillprob: noise the silence model does not fit would otherwise go to
  // the garbage loop and reject the command.
  double silence = 0.005;
  double noise = 1e-8;
  // When to hear the command a second time, with its own cepstral mean: never, always, or only
  // when the first pass named nothing (a name heard at once is given at once).
  enum class SecondPass { never, always, whenRejected };
  SecondPass secondPass = SecondPass::whenRejected;
  // Whether a name the first pass hears is checked too. It is not: it is given at once, as the
  // check costs one more decode of the command, and names forced onto other speech come mostly
  // from the second pass.
  bool verifyFirstPass = false;
  // English: names of the later passes checked, no warps (they bought commands only with
  // unrelated sentences let through). Portuguese, whose rejections had room: a cheaper garbage
  // loop and warps, no check (any threshold only cost commands).
  LanguageCosts english{0.1, 1e-2, -3.1, {}};
  LanguageCosts portuguese{0.07, 1e-2, -std::numeric_limits<double>::infinity(), {0.88, 1.12}};

  const LanguageCosts& of(RecognizerLanguage said) const {
    return said == RecognizerLanguage::english ? english : portuguese;
  }
  bool operator==(const GrammarCosts&) const = default;
};

// The costs the analyzers use; the benchmarks try others.
GrammarCosts grammarCosts();
void setGrammarCosts(const GrammarCosts& costs);

// How the grammar's words are pronounced: the language they are said in, on the model of the
// language that hears them. English words come from the English dictionary, then flite's
// letter-to-sound rules; Portuguese ones from their own model's dictionary only, or on the English
// model from espeak-ng's Brazilian Portuguese readings, with English ones beside them.
struct GrammarWords {
  RecognizerLanguage said = RecognizerLanguage::english;
  RecognizerLanguage model = RecognizerLanguage::english;

  auto operator<=>(const GrammarWords&) const = default;
};

// What one decoder has been given: the words added to its dictionary and the grammar in force.
// Kept with the decoder for as long as it lives.
struct GrammarState {
  std::set<std::string> added;
  std::shared_ptr<const AppGrammar> installed;
  GrammarCosts costs;
  RecognizerLanguage said = RecognizerLanguage::english;
};

// The grammar for a vocabulary in the decoder's language. The last one built is kept, so that the
// takes of a long-running mode with an unchanged catalog build nothing. Safe from any thread.
std::shared_ptr<const AppGrammar> appGrammar(ps_decoder_s* decoder, const GrammarState& given,
                                             const AppVocabulary& vocabulary, GrammarWords words);

// Makes the grammar the decoder's search, installing it first when the decoder has another one;
// throws PlatformError when the decoder refuses it. The decoder's language model is dropped for
// good. Call between utterances, from the thread that owns the decoder.
void useGrammar(ps_decoder_s* decoder, GrammarState& given,
                const std::shared_ptr<const AppGrammar>& grammar,
                GrammarCosts costs = grammarCosts(),
                RecognizerLanguage said = RecognizerLanguage::english);

// Whether the decoder still has its language model: one that took a grammar has given it up.
bool hasLanguageModel(ps_decoder_s* decoder);

}  // namespace earshot::linux_platform
