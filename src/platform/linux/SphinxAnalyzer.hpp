#pragma once

// One PocketSphinx analysis: a worker thread that reads the input stream with a decoder of the
// language's pool and delivers volatile and final results.

#include <memory>
#include <optional>

#include "platform/Speech.hpp"
#include "platform/linux/GrammarSearch.hpp"

namespace earshot::linux_platform {

class DecoderPool;

// Volatile results only when `partials`. With a vocabulary the analysis hears only application
// commands over its names, pronounced as `words` says.
std::shared_ptr<SpeechAnalyzer> makeSphinxAnalyzer(std::shared_ptr<DecoderPool> pool, bool partials,
                                                   std::optional<AppVocabulary> vocabulary = {},
                                                   GrammarWords words = {});

}  // namespace earshot::linux_platform
