#include "support/GrammarDecoder.hpp"

#include <pocketsphinx.h>

#include "catalog/AppNames.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "platform/linux/SphinxModels.hpp"

namespace earshot::testing {

GrammarDecoder::GrammarDecoder(const std::string& modelFolder) {
  const auto model =
      linux_platform::findSphinxModel(modelFolder, linux_platform::RecognizerLanguage::english);
  if (!model) return;
  linux_platform::silenceSphinx();
  cmd_ln_t* config =
      cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model->acoustic.c_str(), "-lm",
                  model->language.c_str(), "-dict", model->dictionary.c_str(), nullptr);
  decoder = ps_init(config);
  cmd_ln_free_r(config);
  if (!decoder) return;
  AppCatalog catalog;
  for (const char* name : {"krita", "firefox", "terminal", "calculator"})
    catalog.entries.push_back({AppRef{name, {}, std::string("/x/") + name}, {name}});
  grammar = linux_platform::appGrammar(decoder, given, appVocabulary(catalog),
                                       linux_platform::GrammarWords{});
}

GrammarDecoder::~GrammarDecoder() {
  if (decoder) ps_free(decoder);
}

}  // namespace earshot::testing
