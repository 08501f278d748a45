#include <gtest/gtest.h>

#include "core/Language.hpp"
#include "core/VoiceKeyCombo.hpp"

using earshot::Language;
using earshot::spoken;
using earshot::VoiceKeyCombo;

namespace {

class Labels : public ::testing::Test {
 protected:
  void TearDown() override { spoken = Language::portuguese; }
};

}  // namespace

TEST_F(Labels, TheNamedChordsReadInEitherLanguage) {
  earshot::fillVoiceKeys();
  const std::vector<std::pair<std::string, std::string>> expected{
      {"⌥ Espaço", "⌥ Space"},
      {"⌃⌥ Espaço", "⌃⌥ Space"},
      {"⌃⇧ Espaço", "⌃⇧ Space"},
      {"⌃⌥⌘ Espaço", "⌃⌥⌘ Space"},
  };
  ASSERT_EQ(earshot::voiceKeys.size(), expected.size());
  for (std::size_t row = 0; row < expected.size(); ++row) {
    spoken = Language::portuguese;
    EXPECT_EQ(earshot::voiceKeys[row].combo.label(), expected[row].first) << row;
    spoken = Language::english;
    EXPECT_EQ(earshot::voiceKeys[row].combo.label(), expected[row].second) << row;
  }
}

TEST_F(Labels, KeyNamesWithoutModifiersHaveNoLeadingSpace) {
  EXPECT_EQ(VoiceKeyCombo::escape.label(), "esc");
  EXPECT_EQ((VoiceKeyCombo{49, 0}).label(), "Espaço");
  EXPECT_EQ((VoiceKeyCombo{36, 0}).label(), "36");
  EXPECT_EQ((VoiceKeyCombo{36, VoiceKeyCombo::command}).label(), "⌘ 36");
  EXPECT_EQ((VoiceKeyCombo{0, VoiceKeyCombo::shift}).label(), "⇧ 0");
}

TEST_F(Labels, GlyphsFollowTheBitsInAFixedOrderAndIgnoreOtherBits) {
  spoken = Language::english;
  EXPECT_EQ((VoiceKeyCombo{49, 0x0900}).label(), "⌥⌘ Space");
  EXPECT_EQ((VoiceKeyCombo{49, 0x1B00}).label(), "⌃⌥⇧⌘ Space");
  EXPECT_EQ(VoiceKeyCombo::controlOptionShiftSpace.label(), "⌃⌥⇧ Space");
  EXPECT_EQ((VoiceKeyCombo{53, 0x0400}).label(), "esc");
  EXPECT_EQ((VoiceKeyCombo{53, 0x0400 | 0x0100 | 0x00FF | 0xFFFF0000}).label(), "⌘ esc");
}

TEST_F(Labels, FollowALanguageChangeAtOnce) {
  const VoiceKeyCombo combo = VoiceKeyCombo::optionShiftSpace;
  EXPECT_EQ(combo.label(), "⌥⇧ Espaço");
  spoken = Language::english;
  EXPECT_EQ(combo.label(), "⌥⇧ Space");
  spoken = Language::portuguese;
  EXPECT_EQ(combo.label(), "⌥⇧ Espaço");
}

TEST(VoiceKeys, Presets) {
  EXPECT_EQ(VoiceKeyCombo::optionSpace, (VoiceKeyCombo{49, 0x0800}));
  EXPECT_EQ(VoiceKeyCombo::controlOptionSpace, (VoiceKeyCombo{49, 0x1800}));
  EXPECT_EQ(VoiceKeyCombo::escape, (VoiceKeyCombo{53, 0}));
  EXPECT_EQ(VoiceKeyCombo::optionShiftSpace, (VoiceKeyCombo{49, 0x0A00}));
  EXPECT_EQ(VoiceKeyCombo::controlOptionShiftSpace, (VoiceKeyCombo{49, 0x1A00}));
  EXPECT_NE((VoiceKeyCombo{49, 0x0800}), (VoiceKeyCombo{53, 0x0800}));
}
