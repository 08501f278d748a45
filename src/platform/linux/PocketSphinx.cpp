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
  return findSphinxModel(modelFolder_, locale);
}

std::optional<std::string> PocketSphinxService::supportedLocale(const std::string& requested) {
  if (!model(requested)) return std::nullopt;
  return canonicalLocale(requested);
}

std::optional<std::string> PocketSphinxService::supportedCommandLocale(
    const std::string& requested) {
  if (auto own = supportedLocale(requested)) return own;
  if (canonicalLocale(requested) == "pt_BR" && model("en_US")) return "pt_BR";
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
  auto pool = this->pool(locale);
  if (!pool) pool = commandPool(locale).first;
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
  auto [pool, words] = module.vocabulary
                           ? commandPool(module.locale)
                           : std::pair(this->pool(module.locale), GrammarWords::english);
  if (!pool) return nullptr;
  // The load starts now rather than at the analyzer's start, which runs on the main loop.
  pool->preload(pool);
  return makeSphinxAnalyzer(pool, module.reports(SpeechTranscriber::Reporting::volatileResults),
                            module.vocabulary, words);
}

std::pair<std::shared_ptr<DecoderPool>, GrammarWords> PocketSphinxService::commandPool(
    const std::string& locale) {
  const bool english = canonicalLocale(locale) == "en_US";
  if (auto own = pool(locale))
    return {own, english ? GrammarWords::english : GrammarWords::dictionary};
  if (canonicalLocale(locale) == "pt_BR")
    if (auto shared = pool("en_US")) return {shared, GrammarWords::portuguese};
  return {nullptr, GrammarWords::english};
}

std::shared_ptr<DecoderPool> PocketSphinxService::pool(const std::string& locale) {
  auto found = model(locale);
  if (!found) return nullptr;
  std::lock_guard guard(lock_);
  auto& pool = pools_[canonicalLocale(locale)];
  if (!pool) pool = std::make_shared<DecoderPool>(*found, search_);
  return pool;
}

int PocketSphinxService::decodersMade(const std::string& locale) {
  auto pool = this->pool(locale);
  return pool ? pool->made() : 0;
}

}  // namespace earshot::linux_platform
