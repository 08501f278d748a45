#include "platform/linux/PocketSphinx.hpp"

#include "platform/linux/SphinxAnalyzer.hpp"
#include "platform/linux/SphinxDecoders.hpp"
#include "platform/linux/SphinxModels.hpp"

namespace earshot::linux_platform {

namespace {

constexpr double analyzerRate = 16000;

}  // namespace

PocketSphinxService::PocketSphinxService() : PocketSphinxService(EARSHOT_SPHINX_MODELDIR) {}

PocketSphinxService::PocketSphinxService(std::string modelFolder, SphinxSearch search)
    : modelFolder_(std::move(modelFolder)), search_(search) {
  silenceSphinx();
}

std::optional<SphinxModel> PocketSphinxService::model(const std::string& locale) const {
  const auto language = recognizerLanguage(locale);
  if (!language) return std::nullopt;
  return model(*language);
}

std::optional<SphinxModel> PocketSphinxService::model(RecognizerLanguage language) const {
  return findSphinxModel(modelFolder_, language);
}

std::optional<std::string> PocketSphinxService::supportedLocale(const std::string& requested) {
  const auto language = recognizerLanguage(requested);
  if (!language || !model(*language)) return std::nullopt;
  return localeIdentifier(*language);
}

std::optional<std::string> PocketSphinxService::supportedCommandLocale(
    const std::string& requested) {
  if (auto own = supportedLocale(requested)) return own;
  const auto language = recognizerLanguage(requested);
  if (language == RecognizerLanguage::brazilianPortuguese && model(RecognizerLanguage::english))
    return localeIdentifier(*language);
  return std::nullopt;
}

std::optional<AudioFormat> PocketSphinxService::bestAvailableAudioFormat(
    const std::vector<SpeechTranscriber>& modules) {
  if (modules.empty()) return std::nullopt;
  const std::string& locale = modules.front().locale;
  if (modules.front().vocabulary ? !supportedCommandLocale(locale) : !model(locale))
    return std::nullopt;
  return AudioFormat::make(analyzerRate, 1, false);
}

bool PocketSphinxService::reserve(const std::string& locale) {
  const auto language = recognizerLanguage(locale);
  if (!language) return false;
  auto pool = this->pool(*language);
  if (!pool) pool = commandPool(*language).first;
  if (!pool) return false;
  pool->preload(pool);
  return true;
}

std::unique_ptr<AssetInstallationRequest> PocketSphinxService::assetInstallationRequest(
    const std::vector<SpeechTranscriber>&) {
  return nullptr;  // models come from packages; nothing is ever downloaded
}

std::shared_ptr<SpeechAnalyzer> PocketSphinxService::makeAnalyzer(
    const std::vector<SpeechTranscriber>& modules, SpeechAnalyzer::Options) {
  if (modules.empty()) return nullptr;
  const SpeechTranscriber& module = modules.front();
  const auto language = recognizerLanguage(module.locale);
  if (!language) return nullptr;
  auto [pool, words] =
      module.vocabulary ? commandPool(*language) : std::pair(this->pool(*language), GrammarWords{});
  if (!pool) return nullptr;
  // The load starts now rather than at the analyzer's start, which runs on the main loop.
  pool->preload(pool);
  return makeSphinxAnalyzer(pool, module.reports(SpeechTranscriber::Reporting::volatileResults),
                            module.vocabulary, words);
}

std::pair<std::shared_ptr<DecoderPool>, GrammarWords> PocketSphinxService::commandPool(
    RecognizerLanguage said) {
  if (auto own = pool(said)) return {own, GrammarWords{said, said}};
  if (said == RecognizerLanguage::brazilianPortuguese)
    if (auto shared = pool(RecognizerLanguage::english))
      return {shared, GrammarWords{said, RecognizerLanguage::english}};
  return {nullptr, GrammarWords{}};
}

std::shared_ptr<DecoderPool> PocketSphinxService::pool(RecognizerLanguage language) {
  auto found = model(language);
  if (!found) return nullptr;
  std::lock_guard guard(lock_);
  auto& pool = pools_[language];
  if (!pool) pool = std::make_shared<DecoderPool>(*found, search_);
  return pool;
}

int PocketSphinxService::decodersMade(const std::string& locale) {
  const auto language = recognizerLanguage(locale);
  auto pool = language ? this->pool(*language) : nullptr;
  return pool ? pool->made() : 0;
}

}  // namespace earshot::linux_platform
