#pragma once

// The speech analysis service on PocketSphinx. A locale is supported when its model is installed:
// English from Debian's pocketsphinx-en-us, Brazilian Portuguese from a model in
// <model folder>/pt-br (its acoustic model folder `pt-br`, `pt-br.lm.bin` or `pt-br.lm`, and
// `pt-br.dict`). Models are loaded off the main thread, once per language, and kept for the
// process; overlapping analyzers each take a decoder of their own from the language's pool.

#include <map>
#include <mutex>
#include <string>

#include "platform/Speech.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/RecognizerLanguage.hpp"

namespace earshot::linux_platform {

// The codes of the "pocketsphinx" errors (PlatformError) of this service.
enum class SphinxError : long {
  settingsRefused = 1,
  modelNotLoaded = 2,
  audioNotProcessed = 3,
  alreadyStarted = 4,
  stopped = 5,
  wordRefused = 6,
  grammarRefused = 7,
};

struct SphinxModel {
  std::string acoustic;  // folder
  std::string language;  // n-gram model
  std::string dictionary;
};

// The decoder's passes after the first (tree) search over an utterance's end: the flat-lexicon
// search and the best path through the word lattice. The flat search costs about a quarter of a
// second at the end of every take and buys no accuracy on our recordings; the best path costs
// about 15 ms and does (bench_sphinx_passes).
struct SphinxSearch {
  bool fwdflat = false;
  bool bestpath = true;
};

class DecoderPool;

class PocketSphinxService final : public SpeechService {
 public:
  // `modelFolder` holds the models that Debian does not ship (pt-br); by default the build's
  // <prefix>/share/earshot/models (/usr/local/share/earshot/models).
  PocketSphinxService();
  explicit PocketSphinxService(std::string modelFolder, SphinxSearch search = {});

  std::optional<std::string> supportedLocale(const std::string& requested) override;
  // Brazilian Portuguese commands are heard on the English model when no Portuguese model is
  // installed (their words read by espeak-ng).
  std::optional<std::string> supportedCommandLocale(const std::string& requested) override;
  std::optional<AudioFormat> bestAvailableAudioFormat(
      const std::vector<SpeechTranscriber>& modules) override;
  bool reserve(const std::string& locale) override;
  std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
      const std::vector<SpeechTranscriber>& modules) override;
  std::shared_ptr<SpeechAnalyzer> makeAnalyzer(const std::vector<SpeechTranscriber>& modules,
                                               SpeechAnalyzer::Options options) override;

  // The installed model for a locale identifier, or of a language, if any.
  std::optional<SphinxModel> model(const std::string& locale) const;
  std::optional<SphinxModel> model(RecognizerLanguage language) const;
  // How many decoders the locale's pool has loaded so far.
  int decodersMade(const std::string& locale);

 private:
  std::shared_ptr<DecoderPool> pool(RecognizerLanguage language);
  // The pool that hears commands said in a language, and how their words are read.
  std::pair<std::shared_ptr<DecoderPool>, GrammarWords> commandPool(RecognizerLanguage said);

  std::string modelFolder_;
  SphinxSearch search_;
  std::mutex lock_;
  std::map<RecognizerLanguage, std::shared_ptr<DecoderPool>> pools_;
};

// Turns all sphinxbase and PocketSphinx logging off for the process.
void silenceSphinx();

}  // namespace earshot::linux_platform
