#pragma once

// One PocketSphinx analysis: a worker thread that reads the input stream with a decoder of the
// language's pool and delivers volatile and final results.

#include <memory>

#include "platform/Speech.hpp"

namespace earshot::linux_platform {

class DecoderPool;

// Volatile results only when `partials`.
std::shared_ptr<SpeechAnalyzer> makeSphinxAnalyzer(std::shared_ptr<DecoderPool> pool,
                                                   bool partials);

}  // namespace earshot::linux_platform
