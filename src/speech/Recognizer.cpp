#include "speech/Recognizer.hpp"

#include <vector>

#include "speech/Failure.hpp"

namespace earshot {

namespace {

// An empty vocabulary stands for the commands the takes will hear.
std::vector<SpeechTranscriber> modulesFor(const std::string& locale, bool commands) {
  std::optional<AppVocabulary> vocabulary;
  if (commands) vocabulary.emplace();
  return {Recognizer::makeTranscriber(locale, std::move(vocabulary))};
}

}  // namespace

std::string Recognizer::locale(Language language) {
  return language == Language::english ? "en_US" : "pt_BR";
}

SpeechTranscriber Recognizer::makeTranscriber(const std::string& locale,
                                              std::optional<AppVocabulary> vocabulary) {
  SpeechTranscriber transcriber;
  transcriber.locale = locale;
  transcriber.vocabulary = std::move(vocabulary);
  transcriber.reportingOptions = unsigned(SpeechTranscriber::Reporting::volatileResults) |
                                 unsigned(SpeechTranscriber::Reporting::fastResults);
  return transcriber;
}

Co<std::optional<std::string>> Recognizer::supported(std::string requested) {
  if (commands_) co_return co_await service_.supportedCommandLocaleLater(std::move(requested));
  co_return co_await service_.supportedLocaleLater(std::move(requested));
}

Co<Recognizer::Readiness> Recognizer::readiness(Language language) {
  if (auto found = ready_.find(language); found != ready_.end()) co_return found->second;
  const std::string requested = locale(language);
  auto supported = co_await this->supported(requested);
  if (!supported) throw SpeechFailure::localeUnsupported(requested);
  std::vector<SpeechTranscriber> modules = modulesFor(*supported, commands_);
  auto format = co_await service_.bestAvailableAudioFormatLater(std::move(modules));
  if (!format) throw SpeechFailure::notRunning();
  Readiness pair{*supported, *format};
  ready_[language] = pair;
  co_return pair;
}

Co<void> Recognizer::prepare(Language language) {
  const std::string requested = locale(language);
  auto supported = co_await this->supported(requested);
  if (!supported) throw SpeechFailure::localeUnsupported(requested);
  try {
    service_.reserve(*supported);
  } catch (...) {
    // A reservation only keeps the model warm; preparation goes on without it.
  }
  auto request = service_.assetInstallationRequest({makeTranscriber(*supported)});
  if (request) co_await request->downloadAndInstall();
  co_await readiness(language);
}

}  // namespace earshot
