#include <gtest/gtest.h>
#include <plist/plist.h>

#include "catalog/PropertyList.hpp"
#include "support/AppFixtures.hpp"

using earshot::parsePropertyList;
using earshot::parseStringsText;
using earshot::Texts;
using earshot::textsOf;
using earshot::testing::plistBytes;
using earshot::testing::PlistForm;
using earshot::testing::PlistValue;
using earshot::testing::utf16;

namespace {

std::optional<Texts> textsOfBytes(const std::string& bytes) {
  auto node = parsePropertyList(bytes);
  if (!node || plist_get_node_type(static_cast<plist_t>(node.get())) != PLIST_DICT)
    return std::nullopt;
  return textsOf(static_cast<plist_t>(node.get()));
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
  EXPECT_FALSE(parsePropertyList("bplist00 garbage"));
  EXPECT_FALSE(parsePropertyList("<plist><dict><key>a</key>"));
  EXPECT_FALSE(parsePropertyList(utf16("\"a\" = ")));
  EXPECT_FALSE(parsePropertyList(std::string("\xFF\xFE\x00\xD8", 4)));  // a lone surrogate
  // libplist holds C strings: a NUL inside a text cannot be kept and the file is refused.
  EXPECT_FALSE(parsePropertyList(std::string("\"a\" = \"x\0y\";", 13)));
}

TEST(PropertyListValues, AgentFlagIsABooleanOrTheNumberOne) {
  auto flagOf = [](const PlistValue& value, PlistForm form) {
    auto node = parsePropertyList(plistBytes({{"LSUIElement", value}}, form));
    return earshot::trueValue(static_cast<plist_t>(node.get()), "LSUIElement");
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
  EXPECT_FALSE(earshot::trueValue(nullptr, "LSUIElement"));
}
