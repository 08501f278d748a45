#pragma once

// One PocketSphinx analysis: a worker thread that reads the input stream with a decoder of the
// language's pool and delivers volatile and final results.

#include <memory>
#include <optional>

#include "platform/Speech.hpp"

namespace earshot::linux_platform {

class DecoderPool;

// Volatile results only when `partials`. With a vocabulary the analysis hears only application
// commands over its names (in English when `english`, for digits and letter-to-sound rules).
std::shared_ptr<SpeechAnalyzer> makeSphinxAnalyzer(std::shared_ptr<DecoderPool> pool, bool partials,
                                                   std::optional<AppVocabulary> vocabulary = {},
                                                   bool english = true);

}  // namespace earshot::linux_platform
