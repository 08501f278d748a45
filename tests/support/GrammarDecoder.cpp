#include "support/GrammarDecoder.hpp"

#include <pocketsphinx.h>

#include <cstdlib>

#include "catalog/AppNames.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "platform/linux/SphinxModels.hpp"
#include "support/TemporaryFolder.hpp"

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

std::vector<std::int16_t> spokenSamples(const std::string& said, TemporaryFolder& dir) {
  const std::string path = dir.file("said.wav");
  const std::string command = "flite -voice slt -t '" + said + "' -o " + path;
  if (std::system(command.c_str()) != 0) return {};
  linux_platform::LinuxAudioToolkit audio;
  auto file = audio.openForReading(path);  // 16 kHz mono
  auto whole =
      PcmBuffer::make(file->processingFormat(), static_cast<std::uint32_t>(file->length()));
  file->read(*whole);
  std::vector<std::int16_t> pcm(8000, 0);
  for (std::uint32_t i = 0; i < whole->frameLength(); ++i)
    pcm.push_back(static_cast<std::int16_t>(whole->sample(i, 0) * 32000.0f));
  pcm.resize(pcm.size() + 8000, 0);
  return pcm;
}

}  // namespace earshot::testing
