#include <gtest/gtest.h>

#include "cli/Survey.hpp"
#include "core/Language.hpp"
#include "hotkeys/VoiceHotKey.hpp"
#include "support/FakeHotKeyService.hpp"

using earshot::HotKeyService;
using earshot::Json;
using earshot::Language;
using earshot::VoiceHotKey;
using earshot::VoiceKeyCombo;
using earshot::testing::FakeHotKeyService;

namespace {

class Survey : public ::testing::Test {
 protected:
  void SetUp() override { earshot::fillVoiceKeys(); }
  void TearDown() override { earshot::spoken = Language::portuguese; }

  static std::vector<bool> freeColumn(const Json& rows) {
    std::vector<bool> free;
    for (const auto& row : rows) free.push_back(row.at("free").get<bool>());
    return free;
  }

  FakeHotKeyService service;
};

}  // namespace

TEST_F(Survey, ReportsEveryRowInOrderAndLeavesNothingRegistered) {
  service.refusals[VoiceKeyCombo::controlOptionSpace] = HotKeyService::alreadyRegistered;
  service.refusals[{49, 0x1900}] = -50;  // any failure counts as not free
  const Json rows = earshot::surveyKeys(service);
  EXPECT_EQ(rows, Json::parse(R"([
    {"name": "option-space", "key": "⌥ Espaço", "free": true},
    {"name": "control-option-space", "key": "⌃⌥ Espaço", "free": false},
    {"name": "control-shift-space", "key": "⌃⇧ Espaço", "free": true},
    {"name": "control-option-command-space", "key": "⌃⌥⌘ Espaço", "free": false}
  ])"));
  EXPECT_TRUE(service.registered().empty());
  EXPECT_EQ(VoiceHotKey::registeredCount(), 0u);
  // Nothing left behind: the same answer again.
  EXPECT_EQ(earshot::surveyKeys(service), rows);
}

TEST_F(Survey, OneTrialAtATime) {
  // A chord exclusive with the one before would be refused if that one were still held.
  earshot::voiceKeys[1].combo = earshot::voiceKeys[0].combo;
  EXPECT_EQ(freeColumn(earshot::surveyKeys(service)), (std::vector<bool>{true, true, true, true}));
}

TEST_F(Survey, WithoutTheServiceEveryRowIsTakenAndLabelsFollowTheLanguage) {
  earshot::spoken = Language::english;
  service.installStatus = -1;
  const Json rows = earshot::surveyKeys(service);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(freeColumn(rows), (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(rows[3].at("key"), "⌃⌥⌘ Space");
  EXPECT_EQ(service.installs, 4);
}
