#pragma once

#include <exception>
#include <optional>
#include <string>

namespace earshot {

// The speech input's own errors (`SpeechInput::Failure`). Equal when the cases, and for
// localeUnsupported the identifiers, are equal.
class SpeechFailure : public std::exception {
 public:
  enum class Case {
    localeUnsupported,
    microphoneDenied,
    noMicrophone,
    notRunning,
    superseded,
    letGo
  };

  static SpeechFailure localeUnsupported(std::string identifier) {
    return SpeechFailure(Case::localeUnsupported, std::move(identifier));
  }
  static SpeechFailure microphoneDenied() { return SpeechFailure(Case::microphoneDenied); }
  static SpeechFailure noMicrophone() { return SpeechFailure(Case::noMicrophone); }
  static SpeechFailure notRunning() { return SpeechFailure(Case::notRunning); }
  static SpeechFailure superseded() { return SpeechFailure(Case::superseded); }
  static SpeechFailure letGo() { return SpeechFailure(Case::letGo); }

  Case kind() const { return case_; }
  // The requested locale of localeUnsupported; empty otherwise.
  const std::string& identifier() const { return identifier_; }
  // The case name, such as "notRunning".
  const char* what() const noexcept override;

  // Written out: a defaulted one would compare the std::exception bases, which clang refuses.
  friend bool operator==(const SpeechFailure& a, const SpeechFailure& b) {
    return a.case_ == b.case_ && a.identifier_ == b.identifier_;
  }

 private:
  explicit SpeechFailure(Case c, std::string identifier = {})
      : case_(c), identifier_(std::move(identifier)) {}
  Case case_;
  std::string identifier_;
};

// The case of an error that is a SpeechFailure; nothing for any other error.
std::optional<SpeechFailure::Case> failureCase(std::exception_ptr error);

}  // namespace earshot
