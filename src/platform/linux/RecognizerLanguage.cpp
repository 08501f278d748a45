#include "platform/linux/RecognizerLanguage.hpp"

#include <algorithm>

namespace earshot::linux_platform {

std::optional<RecognizerLanguage> recognizerLanguage(std::string_view locale) {
  std::string written(locale);
  std::replace(written.begin(), written.end(), '-', '_');
  if (written == "en" || written == "en_US") return RecognizerLanguage::english;
  if (written == "pt" || written == "pt_BR") return RecognizerLanguage::brazilianPortuguese;
  return std::nullopt;
}

std::string localeIdentifier(RecognizerLanguage language) {
  switch (language) {
    case RecognizerLanguage::english:
      return "en_US";
    case RecognizerLanguage::brazilianPortuguese:
      return "pt_BR";
  }
  return {};
}

}  // namespace earshot::linux_platform
