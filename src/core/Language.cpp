#include "core/Language.hpp"

namespace earshot {

std::atomic<Language> spoken{Language::portuguese};

std::optional<Language> languageFromRaw(std::string_view raw) {
  if (raw == "pt") return Language::portuguese;
  if (raw == "en") return Language::english;
  return std::nullopt;
}

std::string_view rawValue(Language language) {
  return language == Language::english ? "en" : "pt";
}

std::string tr(std::string_view pt, std::string_view en) {
  return std::string(spoken.load() == Language::english ? en : pt);
}

}  // namespace earshot
