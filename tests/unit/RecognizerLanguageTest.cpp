// Locale identifiers as the recognizer's languages, and back.
#include <gtest/gtest.h>

#include "platform/linux/RecognizerLanguage.hpp"

using earshot::linux_platform::RecognizerLanguage;

TEST(RecognizerLanguage, IdentifiersNameTheLanguagesWithModels) {
  using Named = std::optional<RecognizerLanguage>;
  const struct {
    const char* locale;
    Named language;
  } rows[] = {
      {"en_US", RecognizerLanguage::english},
      {"en-US", RecognizerLanguage::english},
      {"en", RecognizerLanguage::english},
      {"pt_BR", RecognizerLanguage::brazilianPortuguese},
      {"pt-BR", RecognizerLanguage::brazilianPortuguese},
      {"pt", RecognizerLanguage::brazilianPortuguese},
      // Languages without a model, and near misses.
      {"de_DE", std::nullopt},
      {"en_GB", std::nullopt},
      {"pt_PT", std::nullopt},
      {"", std::nullopt},
      {"english", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(earshot::linux_platform::recognizerLanguage(row.locale), row.language) << row.locale;
    // What the service reports names the same language again.
    if (row.language) {
      EXPECT_EQ(earshot::linux_platform::recognizerLanguage(
                    earshot::linux_platform::localeIdentifier(*row.language)),
                row.language)
          << row.locale;
    }
  }
}
