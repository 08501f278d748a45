#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace earshot {

// The recognition language. Raw values are exactly "pt" and "en".
enum class Language : std::uint8_t { portuguese, english };

std::optional<Language> languageFromRaw(std::string_view raw);
std::string_view rawValue(Language language);

// The process-wide current language. Written by the listening mode's standard-input thread, read
// everywhere at the moment of use.
extern std::atomic<Language> spoken;

// The text that matches `spoken` now: English only when `spoken` is english.
std::string tr(std::string_view pt, std::string_view en);

}  // namespace earshot
