#pragma once

// Recognizer preparation on the main loop: the locale and analyzer format for a language, the one
// transcriber configuration, and the assets and model a take needs before it starts.

#include <map>
#include <optional>
#include <string>

#include "async/Co.hpp"
#include "core/Language.hpp"
#include "platform/Audio.hpp"
#include "platform/Speech.hpp"

namespace earshot {

class Recognizer {
 public:
  // What a take needs to know about the recognizer for one language.
  struct Readiness {
    std::string locale;
    AudioFormat format;
  };

  explicit Recognizer(SpeechService& service) : service_(service) {}

  // "pt_BR" or "en_US".
  static std::string locale(Language language);
  // The one configuration this system uses: volatile and fast results, no other options. With a
  // vocabulary (`appNames` of the catalog), the module hears only application commands.
  static SpeechTranscriber makeTranscriber(const std::string& locale,
                                           std::optional<AppVocabulary> vocabulary = {});

  // The locale and analyzer format for a language, cached by this object after the first success.
  // Fails with localeUnsupported or notRunning.
  Co<Readiness> readiness(Language language);
  // Reserves the language's model (keeping it resident), installs missing assets, then checks
  // readiness.
  Co<void> prepare(Language language);
  // From now on, readies the recognizer for application commands only (`--app-names`), which a
  // language may support without supporting free speech.
  void hearCommandsOnly() {
    commands_ = true;
    ready_.clear();
  }
  // Empties the readiness cache.
  void forgetReadiness() { ready_.clear(); }

  SpeechService& service() { return service_; }

 private:
  Co<std::optional<std::string>> supported(std::string requested);

  SpeechService& service_;
  std::map<Language, Readiness> ready_;
  bool commands_ = false;
};

}  // namespace earshot
