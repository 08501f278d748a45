#pragma once

// A decoder's application-command search: the grammar of AppGrammar as a PocketSphinx finite-state
// grammar with a garbage loop beside the names, so that speech that fits no name comes out as
// garbage instead of as the nearest name.

#include <memory>

#include "platform/Speech.hpp"
#include "platform/linux/AppGrammar.hpp"

struct ps_decoder_s;

namespace earshot::linux_platform {

// What the paths of the grammar cost, as probabilities (below 1) against a name's, which costs
// nothing. Chosen by measurement (bench/app_names.sh).
struct GrammarCosts {
  // Per phone of the garbage loop: lower forces more speech onto names, higher rejects more names.
  double garbagePhone = 0.1;
  // Per filler word (at most two): short words such as "a" and "o" would otherwise soak up any
  // speech before a name.
  double filler = 1e-2;

  bool operator==(const GrammarCosts&) const = default;
};

// The grammar for a vocabulary in the decoder's language. The last one built is kept, so that the
// takes of a long-running mode with an unchanged catalog build nothing. Safe from any thread.
std::shared_ptr<const AppGrammar> appGrammar(ps_decoder_s* decoder, const AppVocabulary& vocabulary,
                                             bool english);

// Makes the grammar the decoder's search, installing it first when the decoder has another one;
// throws PlatformError when the decoder refuses it. The decoder's language model is dropped for
// good. Call between utterances, from the thread that owns the decoder.
void useGrammar(ps_decoder_s* decoder, const std::shared_ptr<const AppGrammar>& grammar,
                GrammarCosts costs = {});

// Whether the decoder still has its language model: one that took a grammar has given it up.
bool hasLanguageModel(ps_decoder_s* decoder);

}  // namespace earshot::linux_platform
