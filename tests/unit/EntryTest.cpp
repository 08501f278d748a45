#include <gtest/gtest.h>

#include "cli/Entry.hpp"
#include "core/Language.hpp"
#include "core/VoiceKeyCombo.hpp"

using namespace earshot;

namespace {

// Records which mode the entry point chose, and with what.
struct Chosen {
  std::string mode;
  std::string value;
  bool exact = false;
  bool launch = false;
  bool appNames = false;
};

Chosen choose(std::vector<std::string> list) {
  Chosen chosen;
  Modes modes;
  modes.lookup = [&](const std::string& text, bool exact, bool launch) {
    chosen = {"lookup", text, exact, launch};
    return 0;
  };
  modes.survey = [&] {
    chosen.mode = "survey";
    return 0;
  };
  modes.file = [&](const std::string& path, bool appNames) {
    chosen = {"file", path, false, false, appNames};
    return 0;
  };
  modes.dictation = [&](bool appNames) {
    chosen = {"dictation", "", false, false, appNames};
    return 0;
  };
  modes.listening = [&](const std::string& key, bool appNames) {
    chosen = {"listening", key, false, false, appNames};
    return 0;
  };
  runEntry(Arguments(std::move(list)), modes);
  return chosen;
}

}  // namespace

TEST(Arguments, ValueIsTheElementAfterTheFirstOccurrence) {
  Arguments a({"--find", "--exact", "--find", "b", "--key"});
  EXPECT_EQ(a.argument("--find"), "--exact");
  EXPECT_FALSE(a.argument("--key"));
  EXPECT_FALSE(a.argument("--open"));
  EXPECT_FALSE(a.argument("--FIND"));
  EXPECT_TRUE(a.flag("--exact"));
  EXPECT_FALSE(a.flag("--exac"));
}

TEST(Entry, ModesFollowTheirPrecedence) {
  auto none = choose({});
  EXPECT_EQ(none.mode, "listening");
  EXPECT_EQ(none.value, "auto");

  auto both = choose({"--find", "b", "--open", "a", "--keys", "--file", "x", "--dictate"});
  EXPECT_EQ(both.mode, "lookup");
  EXPECT_EQ(both.value, "a");
  EXPECT_TRUE(both.launch);

  auto findExact = choose({"--find", "--exact"});
  EXPECT_EQ(findExact.value, "--exact");
  EXPECT_TRUE(findExact.exact);
  EXPECT_FALSE(findExact.launch);

  EXPECT_EQ(choose({"--keys", "--file", "x"}).mode, "survey");
  EXPECT_EQ(choose({"--language", "--keys"}).mode, "survey");  // the flag counts where it stands
  EXPECT_EQ(choose({"--dictate", "--file", "x"}).mode, "file");
  EXPECT_EQ(choose({"--dictate", "stray", "--unknown"}).mode, "dictation");
  EXPECT_EQ(choose({"--key", "control-shift-space"}).value, "control-shift-space");
}

TEST(Entry, AppNamesIsAFlagOfTheHearingModesWhereverItStands) {
  EXPECT_FALSE(choose({"--file", "x"}).appNames);
  EXPECT_FALSE(choose({"--dictate"}).appNames);
  EXPECT_FALSE(choose({}).appNames);
  struct Row {
    std::vector<std::string> list;
    std::string mode;
  };
  for (const auto& row :
       std::vector<Row>{{{"--file", "x", "--app-names"}, "file"},
                        {{"--app-names", "--file", "x"}, "file"},
                        {{"--language", "en", "--app-names", "--file", "x"}, "file"},
                        {{"--dictate", "--app-names"}, "dictation"},
                        {{"--app-names", "--key", "f9"}, "listening"},
                        {{"--app-names"}, "listening"}}) {
    const auto chosen = choose(row.list);
    EXPECT_EQ(chosen.mode, row.mode);
    EXPECT_TRUE(chosen.appNames) << row.mode;
  }
  EXPECT_EQ(choose({"--app-names", "--find", "gimp"}).mode, "lookup");
}

TEST(Entry, UsageErrorComesBeforeAnyMode) {
  EXPECT_EQ(choose({"--file", "x", "--key"}).mode, "");
  EXPECT_EQ(choose({"--open", "a", "--find"}).mode, "");
}

TEST(Entry, LanguageIsEnglishOnlyForExactlyEn) {
  choose({"--language", "en"});
  EXPECT_EQ(spoken.load(), Language::english);
  EXPECT_EQ(tr("Espaço", "Space"), "Space");
  for (auto value : {"EN", "es", "pt", "--keys"}) {
    choose({"--language", value});
    EXPECT_EQ(spoken.load(), Language::portuguese) << value;
  }
  choose({});
  EXPECT_EQ(spoken.load(), Language::portuguese);
  EXPECT_EQ(tr("Espaço", "Space"), "Espaço");
}

TEST(Entry, FillsTheKeyTableInOrder) {
  choose({"--keys"});
  ASSERT_EQ(voiceKeys.size(), 4u);
  EXPECT_EQ(voiceKeys[0].name, "option-space");
  EXPECT_EQ(voiceKeys[0].combo, VoiceKeyCombo::optionSpace);
  EXPECT_EQ(voiceKeys[1].name, "control-option-space");
  EXPECT_EQ(voiceKeys[1].combo, (VoiceKeyCombo{49, 0x1800}));
  EXPECT_EQ(voiceKeys[2].name, "control-shift-space");
  EXPECT_EQ(voiceKeys[2].combo, (VoiceKeyCombo{49, 0x1200}));
  EXPECT_EQ(voiceKeys[3].name, "control-option-command-space");
  EXPECT_EQ(voiceKeys[3].combo, (VoiceKeyCombo{49, 0x1900}));
}

TEST(Language, RawValuesAreExact) {
  EXPECT_EQ(languageFromRaw("pt"), Language::portuguese);
  EXPECT_EQ(languageFromRaw("en"), Language::english);
  EXPECT_FALSE(languageFromRaw("EN"));
  EXPECT_FALSE(languageFromRaw(""));
  EXPECT_EQ(rawValue(Language::english), "en");
}
