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

std::optional<AudioFormat> PocketSphinxService::bestAvailableAudioFormat(
    const std::vector<SpeechTranscriber>& modules) {
  if (modules.empty() || !model(modules.front().locale)) return std::nullopt;
  return AudioFormat::make(analyzerRate, 1, false);
}

bool PocketSphinxService::reserve(const std::string& locale) {
  auto pool = this->pool(locale);
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
  auto pool = this->pool(modules.front().locale);
  if (!pool) return nullptr;
  // The load starts now rather than at the analyzer's start, which runs on the main loop.
  pool->preload(pool);
  const SpeechTranscriber& module = modules.front();
  return makeSphinxAnalyzer(pool, module.reports(SpeechTranscriber::Reporting::volatileResults),
                            module.vocabulary, canonicalLocale(module.locale) == "en_US");
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
