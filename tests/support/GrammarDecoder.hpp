#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/GrammarSearch.hpp"

struct ps_decoder_s;

namespace earshot::testing {
class TemporaryFolder;
}

namespace earshot::testing {

// A decoder of the installed English model holding the grammar of four application names
// (krita, firefox, terminal, calculator), not yet in force: for the recognizer's own tests.
struct GrammarDecoder {
  explicit GrammarDecoder(const std::string& modelFolder);
  ~GrammarDecoder();
  GrammarDecoder(const GrammarDecoder&) = delete;
  GrammarDecoder& operator=(const GrammarDecoder&) = delete;

  ps_decoder_s* decoder = nullptr;  // null when the model is missing
  linux_platform::GrammarState given;
  std::shared_ptr<const linux_platform::AppGrammar> grammar;
};

// `said` in flite's slt voice as 16 kHz samples, with half a second of silence on each side, as
// the decoder takes them; empty when flite fails.
std::vector<std::int16_t> spokenSamples(const std::string& said, TemporaryFolder& dir);

}  // namespace earshot::testing
