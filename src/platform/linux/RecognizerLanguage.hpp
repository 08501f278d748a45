#pragma once

// The languages the recognizer has models for. Locale identifiers are the service's interface;
// below it everything speaks of one of these.

#include <optional>
#include <string>
#include <string_view>

namespace earshot::linux_platform {

enum class RecognizerLanguage { english, brazilianPortuguese };

// The language a locale identifier names: "en_US", "en-US" and "en" mean English. Nothing for a
// language without a model.
std::optional<RecognizerLanguage> recognizerLanguage(std::string_view locale);

// The identifier the service reports for a language ("en_US").
std::string localeIdentifier(RecognizerLanguage language);

}  // namespace earshot::linux_platform
