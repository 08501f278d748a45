#include <gtest/gtest.h>

#include "catalog/AppCatalog.hpp"
#include "catalog/Plain.hpp"

using earshot::AppCatalog;
using earshot::plain;

TEST(Plain, FoldsCaseDiacriticsAndPunctuation) {
  EXPECT_EQ(plain("E-mail"), "e mail");
  EXPECT_EQ(plain("Configurações"), "configuracoes");
  EXPECT_EQ(plain("Preferências"), "preferencias");
  EXPECT_EQ(plain("Calendário"), "calendario");
  EXPECT_EQ(plain("Música"), "musica");
  EXPECT_EQ(plain(" Chat-GPT! "), "chat gpt");
  EXPECT_EQ(plain("ＡＰＰ　Ｓｔｏｒｅ"), "app store");  // full-width letters and space
  EXPECT_EQ(plain("ｶﾒﾗ"), plain("カメラ"));             // half-width katakana
  EXPECT_EQ(plain("CAFÉ"), "cafe");
  EXPECT_EQ(plain("Cafe\u0301"), "cafe");  // decomposed accent
  EXPECT_EQ(plain("Straße"), "strasse");
}

TEST(Plain, EdgesOfTheForm) {
  EXPECT_EQ(plain(""), "");
  EXPECT_EQ(plain(" - -\t--  "), "");
  EXPECT_EQ(plain("Office 365 2019"), "office 365 2019");
  EXPECT_EQ(plain("Notepad++"), "notepad");
  EXPECT_EQ(plain("C#"), "c");
  EXPECT_EQ(plain("\u200ESafari"), "safari");
  EXPECT_EQ(plain("Left\u200Eto"), "left to");  // a format character separates like any other
  EXPECT_EQ(plain("日本語 テキスト"), "日本語 テキスト");
  EXPECT_EQ(plain("\xff\xfe"
                  "abc\xc3"),
            "abc");  // invalid bytes are separators, never a crash
}

TEST(Plain, IsIdempotent) {
  for (const char* text : {"Configurações", "ＡＰＰ Ｓｔｏｒｅ", "Straße", " a--b ", "ǅemal",
                           "İstanbul", "हिन्दी", "한국어", "Ω≈ç√", "x\u0301\u0302y"}) {
    const std::string once = plain(text);
    EXPECT_EQ(plain(once), once) << text;
    EXPECT_EQ(once.find("  "), std::string::npos) << text;
    if (!once.empty()) {
      EXPECT_NE(once.front(), ' ') << text;
      EXPECT_NE(once.back(), ' ') << text;
    }
  }
}

TEST(Distance, CountsEditsOverCharacters) {
  EXPECT_EQ(AppCatalog::distance("", ""), 0u);
  EXPECT_EQ(AppCatalog::distance("abcd", ""), 4u);
  EXPECT_EQ(AppCatalog::distance("", "abcd"), 4u);
  EXPECT_EQ(AppCatalog::distance("whatsapp", "uatsap"), 3u);
  EXPECT_EQ(AppCatalog::distance("calendario", "calendar"), 2u);
  EXPECT_EQ(AppCatalog::distance("safari", "safrai"), 2u);  // a swap is two edits
  EXPECT_EQ(AppCatalog::distance("pixelmator pro", "pixelmater pro"), 1u);
  EXPECT_EQ(AppCatalog::distance("kitten", "sitting"), AppCatalog::distance("sitting", "kitten"));
}

TEST(Distance, ComparesUserPerceivedCharactersByCanonicalEquivalence) {
  // A precomposed é and e with a combining accent are one and the same character.
  EXPECT_EQ(AppCatalog::distance("caf\u00e9", "cafe\u0301"), 0u);
  EXPECT_EQ(AppCatalog::distance("cafe\u0301", "cafe"), 1u);
  // A flag is one character, made of two scalars.
  EXPECT_EQ(AppCatalog::distance("\U0001F1E7\U0001F1F7", ""), 1u);
  EXPECT_EQ(earshot::characterCount("e\u0301a"), 2u);
  EXPECT_TRUE(earshot::beginsWith("ab", "ab"));
  EXPECT_FALSE(earshot::beginsWith("cafe\u0301s", "cafe"));  // "e" is not the first half of "é"
  EXPECT_TRUE(earshot::beginsWith("caf\u00e9s", "cafe\u0301"));
}

TEST(FormatCharacters, OnlyCfIsRemoved) {
  EXPECT_EQ(earshot::withoutFormatCharacters("\u200ENotas\u200F"), "Notas");
  EXPECT_EQ(earshot::withoutFormatCharacters("Ajustes do Sistema"), "Ajustes do Sistema");
  EXPECT_EQ(earshot::withoutFormatCharacters("Calendário\u00A0X"), "Calendário\u00A0X");
}

TEST(Distance, BoundedTestAgreesWithTheWholeDistance) {
  // Small alphabets make near misses frequent; "é" and "e\u0301" are one character.
  const std::vector<std::string> alphabet{
      "a", "b", "c", " ", "\u00e9", "e\u0301", "\U0001F1E7\U0001F1F7"};
  std::uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  auto word = [&] {
    std::string out;
    for (std::uint32_t n = next() % 9; n > 0; --n) out += alphabet[next() % alphabet.size()];
    return out;
  };
  for (int i = 0; i < 3000; ++i) {
    const std::string a = word();
    const std::string b = word();
    const std::size_t d = AppCatalog::distance(a, b);
    for (std::size_t limit = 0; limit <= 3; ++limit) {
      ASSERT_EQ(earshot::withinEditDistance(a, b, limit), d <= limit)
          << a << " / " << b << " limit " << limit;
    }
  }
}

TEST(Distance, BoundedTestAgreesOnLongTexts) {
  // Long texts a few edits apart: the band is then much narrower than a row.
  const std::vector<std::string> alphabet{"a", "b", "\u00e9", "e\u0301"};
  std::uint32_t seed = 777;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  for (int i = 0; i < 400; ++i) {
    std::vector<std::string> a;
    for (std::uint32_t n = 10 + next() % 40; n > 0; --n) a.push_back(alphabet[next() % 4]);
    std::vector<std::string> b = a;
    for (std::uint32_t edits = next() % 5; edits > 0 && !b.empty(); --edits) {
      const std::size_t at = next() % b.size();
      switch (next() % 3) {
        case 0:
          b.erase(b.begin() + at);
          break;
        case 1:
          b.insert(b.begin() + at, alphabet[next() % 4]);
          break;
        default:
          b[at] = alphabet[next() % 4];
      }
    }
    std::string left, right;
    for (const auto& c : a) left += c;
    for (const auto& c : b) right += c;
    const std::size_t d = AppCatalog::distance(left, right);
    for (std::size_t limit = 0; limit <= 3; ++limit) {
      ASSERT_EQ(earshot::withinEditDistance(left, right, limit), d <= limit)
          << left << " / " << right << " limit " << limit;
    }
  }
}
