#include <gtest/gtest.h>

#include "formats/PropertyList.hpp"
#include "support/AppFixtures.hpp"

using earshot::parseStringsText;
using earshot::PropertyDictionary;
using earshot::Texts;
using earshot::testing::plistBytes;
using earshot::testing::PlistForm;
using earshot::testing::PlistValue;
using earshot::testing::utf16;

namespace {

std::optional<Texts> textsOfBytes(const std::string& bytes) {
  auto dictionary = PropertyDictionary::parse(bytes);
  if (!dictionary) return std::nullopt;
  return dictionary.texts();
}

}  // namespace

TEST(StringsText, ReadsEntriesCommentsAndEscapes) {
  auto texts = parseStringsText(R"(
/* Localized versions of Info.plist keys */
"CFBundleName" = "Música";  // trailing comment
CFBundleDisplayName = "Tab\there \"quoted\" back\\slash";
"NSHumanReadableCopyright"="line\nbreak";
"Key only";
"Unicode" = "\U00e9\u00C7 \UD83D\UDE00 \101";
)");
  ASSERT_TRUE(texts);
  EXPECT_EQ(texts->at("CFBundleName"), "Música");
  EXPECT_EQ(texts->at("CFBundleDisplayName"), "Tab\there \"quoted\" back\\slash");
  EXPECT_EQ(texts->at("NSHumanReadableCopyright"), "line\nbreak");
  EXPECT_EQ(texts->at("Key only"), "Key only");
  EXPECT_EQ(texts->at("Unicode"), "éÇ \U0001F600 A");
  EXPECT_EQ(texts->size(), 5u);
}

TEST(StringsText, EmptyAndBracedFilesAreDictionaries) {
  EXPECT_EQ(parseStringsText(""), Texts{});
  EXPECT_EQ(parseStringsText("  /* nothing */ // at all\n"), Texts{});
  EXPECT_EQ(parseStringsText("{ \"a\" = \"b\"; }"), (Texts{{"a", "b"}}));
  EXPECT_EQ(parseStringsText("\"a\" = \"1\";\n\"a\" = \"2\";"),
            (Texts{{"a", "2"}}));  // last one wins
}

TEST(StringsText, MalformedTextIsNoDictionary) {
  for (const char* text : {"\"a\" = \"b\"", "\"a\" = ;", "\"a\" \"b\";", "\"unterminated = \"b\";",
                           "/* open comment", "{ \"a\" = \"b\";", "\"a\" = \"b\"; }", "= \"b\";",
                           "\"a\" = \"\\u12\";", "\"a\" = \"b\\"}) {
    EXPECT_FALSE(parseStringsText(text)) << text;
  }
}

TEST(PropertyListBytes, EveryFormOfAStringsFileReads) {
  const std::string text = "\"CFBundleDisplayName\" = \"Calendário\";\n";
  const Texts expected{{"CFBundleDisplayName", "Calendário"}};
  EXPECT_EQ(textsOfBytes(text), expected);
  EXPECT_EQ(textsOfBytes("\xEF\xBB\xBF" + text), expected);
  EXPECT_EQ(textsOfBytes(utf16(text)), expected);
  EXPECT_EQ(textsOfBytes(utf16(text, true)), expected);
  EXPECT_EQ(textsOfBytes(plistBytes({{"CFBundleDisplayName", "Calendário"}}, PlistForm::xml)),
            expected);
  EXPECT_EQ(textsOfBytes(plistBytes({{"CFBundleDisplayName", "Calendário"}}, PlistForm::binary)),
            expected);
}

TEST(PropertyListBytes, BrokenFilesGiveNothing) {
  EXPECT_FALSE(PropertyDictionary::parse("bplist00 garbage"));
  EXPECT_FALSE(PropertyDictionary::parse("<plist><dict><key>a</key>"));
  EXPECT_FALSE(PropertyDictionary::parse(utf16("\"a\" = ")));
  EXPECT_FALSE(PropertyDictionary::parse(std::string("\xFF\xFE\x00\xD8", 4)));  // a lone surrogate
  // libplist holds C strings: a NUL inside a text cannot be kept and the file is refused.
  EXPECT_FALSE(PropertyDictionary::parse(std::string("\"a\" = \"x\0y\";", 13)));
}

TEST(PropertyListValues, AgentFlagIsABooleanOrTheNumberOne) {
  auto flagOf = [](const PlistValue& value, PlistForm form) {
    return PropertyDictionary::parse(plistBytes({{"LSUIElement", value}}, form))
        .isTrue("LSUIElement");
  };
  for (PlistForm form : {PlistForm::xml, PlistForm::binary}) {
    EXPECT_TRUE(flagOf(PlistValue::of(true), form));
    EXPECT_TRUE(flagOf(PlistValue::number(1), form));
    EXPECT_FALSE(flagOf(PlistValue::of(false), form));
    EXPECT_FALSE(flagOf(PlistValue::number(0), form));
    EXPECT_FALSE(flagOf(PlistValue::number(2), form));
    EXPECT_FALSE(flagOf("1", form));
    EXPECT_FALSE(flagOf("YES", form));
  }
  EXPECT_FALSE(PropertyDictionary().isTrue("LSUIElement"));
}

TEST(PropertyListValues, ANestedDictionaryOutlivesTheOneItCameFrom) {
  for (PlistForm form : {PlistForm::xml, PlistForm::binary}) {
    PropertyDictionary language;
    {
      auto table = PropertyDictionary::parse(plistBytes(
          {{"pt_BR", PlistValue::of({{"CFBundleName", "Calendário"}})}, {"en", "x"}}, form));
      ASSERT_TRUE(table);
      EXPECT_FALSE(table.dictionary("en"));  // a text, not a dictionary
      EXPECT_FALSE(table.dictionary("pt"));
      language = table.dictionary("pt_BR");
    }
    ASSERT_TRUE(language);
    EXPECT_EQ(language.text("CFBundleName"), "Calendário");
  }
}
