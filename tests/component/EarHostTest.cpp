// The listener's holds driven by the host, keys the desktop decides, and keys that are lost.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "listener/Ear.hpp"
#include "support/EventCapture.hpp"
#include "support/FakeCapture.hpp"
#include "support/FakePlatform.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::SimulatedLoop;
using namespace std::chrono_literals;
using Json = nlohmann::json;
using Names = std::vector<std::string>;

namespace {

constexpr VoiceKeyCombo optionSpace = VoiceKeyCombo::optionSpace;

class HostListening : public ::testing::Test {
 protected:
  void SetUp() override {
    fillVoiceKeys();
    spoken = Language::english;
    fake.speech.supported = {"en_US"};
  }
  void TearDown() override { spoken = Language::portuguese; }

  std::shared_ptr<Ear> listen(std::string key = "auto") {
    ear = std::make_shared<Ear>(fake.platform, std::move(key),
                                earshot::testing::recordingSink(exits));
    ear->start();
    loop.runUntilIdle();
    return ear;
  }
  // One step of a script: host commands, the chord, the key going away, or time passing.
  void step(const std::string& what) {
    if (what == "press") ear->hostPress();
    if (what == "release") ear->hostRelease();
    if (what == "cancel") ear->hostCancel();
    if (what == "chord down") {
      fake.hotKeys.keysDown.insert(optionSpace.keyCode);
      fake.hotKeys.press(optionSpace);
    }
    if (what == "chord up") {
      fake.hotKeys.keysDown.erase(optionSpace.keyCode);
      fake.hotKeys.release(optionSpace);
    }
    if (what == "lost") fake.hotKeys.loseAll("gone");
    if (what == "language") ear->languageChanged();
    if (what == "key") ear->use("option-space");
    loop.runUntilIdle();
    loop.advanceInSteps(500ms);
  }
  Names names() {
    Names out;
    for (const auto& event : events.take()) {
      std::string name = event["event"];
      if (event.contains("id")) name += ":" + std::to_string(event["id"].get<int>());
      if (event.contains("reason")) name += ":" + event["reason"].get<std::string>();
      if (name.rfind("level", 0) != 0 && name.rfind("partial", 0) != 0) out.push_back(name);
    }
    return out;
  }

  earshot::testing::FakePlatform fake;
  SimulatedLoop& loop = fake.loop;
  earshot::testing::EventCapture events;
  std::shared_ptr<Ear> ear;
  std::vector<int> exits;
};

struct Script {
  const char* name;
  bool keyTaken;  // every row refused: no key at all
  std::vector<std::string> steps;
  Names names;  // after the start's "ready" or "error"
};

class HostScripts : public HostListening, public ::testing::WithParamInterface<Script> {};

TEST_P(HostScripts, GiveTheEventsOfTheChord) {
  if (GetParam().keyTaken)
    for (const auto& row : voiceKeys)
      fake.hotKeys.refusals[row.combo] = HotKeyService::alreadyRegistered;
  listen();
  names();
  for (const auto& what : GetParam().steps) step(what);
  EXPECT_EQ(names(), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    Ear, HostScripts,
    ::testing::Values(
        Script{
            "PressRelease", false, {"press", "release"}, {"down:1", "open:1", "up:1", "final:1"}},
        Script{"PressDuringAHoldAndReleaseWithoutOne",
               false,
               {"release", "press", "press", "release", "release"},
               {"down:1", "open:1", "up:1", "final:1"}},
        Script{"Cancel",
               false,
               {"cancel", "press", "cancel", "release"},
               {"down:1", "open:1", "cancelled:1"}},
        Script{"CancelTheChordsHoldAndItsReleaseDoesNothing",
               false,
               {"chord down", "cancel", "chord up"},
               {"down:1", "open:1", "cancelled:1"}},
        Script{"ReleaseTheChordsHold",
               false,
               {"chord down", "release", "chord up", "chord down", "chord up"},
               {"down:1", "open:1", "up:1", "final:1", "down:2", "open:2", "up:2", "final:2"}},
        Script{"ChordReleaseEndsTheHostsHold",
               false,
               {"press", "chord down", "chord up"},
               {"down:1", "open:1", "up:1", "final:1"}},
        Script{"WithoutAKey", true, {"press", "release"}, {"down:1", "open:1", "up:1", "final:1"}},
        // The key goes away: a hold ends as a release, nothing names a key until one is taken.
        Script{"LostDuringAHold",
               false,
               {"chord down", "lost", "language", "chord up", "key", "language"},
               {"down:1", "open:1", "up:1", "error:key-lost", "final:1", "ready", "ready"}},
        Script{"LostWithoutAKey", true, {"lost"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostListening, AHoldTheHostStartedIsNotEndedByTheKeyStateButByTheLimit) {
  listen();
  names();
  fake.hotKeys.keysDown.clear();
  ear->hostPress();
  loop.advanceInSteps(2s);
  EXPECT_EQ(names(), (Names{"down:1", "open:1"}));
  for (int k = 0; k < 119; ++k) loop.advance(1s);
  loop.advanceInSteps(300ms);
  EXPECT_EQ(names(), (Names{"cancelled:1"}));
}

struct Grant {
  const char* name;
  HotKeyService::Trigger trigger;
  Json ready;
};

class DesktopGrants : public HostListening, public ::testing::WithParamInterface<Grant> {};

TEST_P(DesktopGrants, NameARowOnlyWhenItsChordWasGranted) {
  fake.hotKeys.kindIs = HotKeyService::Kind::desktop;
  fake.hotKeys.grants = GetParam().trigger;
  listen();
  ear->languageChanged();
  loop.runUntilIdle();
  EXPECT_EQ(events.take(), (std::vector<Json>{GetParam().ready, GetParam().ready}));
}

INSTANTIATE_TEST_SUITE_P(
    Ear, DesktopGrants,
    ::testing::Values(
        Grant{"TheAskedChord",
              {"Alt+Space", optionSpace},
              {{"event", "ready"},
               {"key", "Alt+Space"},
               {"name", "option-space"},
               {"backend", "portal"}}},
        Grant{"AnotherRow",
              {"Ctrl+Alt+Space", VoiceKeyCombo::controlOptionSpace},
              {{"event", "ready"},
               {"key", "Ctrl+Alt+Space"},
               {"name", "control-option-space"},
               {"backend", "portal"}}},
        Grant{
            "NoRow",
            {"Super+V", std::nullopt},
            {{"event", "ready"}, {"key", "Super+V"}, {"name", "desktop"}, {"backend", "portal"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
  const char* name;
  HotKeyService::StatusCode status;
  Json error;
};

class Refusals : public HostListening, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, AreToldWithTheirDetailAfterOneTry) {
  for (const auto& row : voiceKeys) fake.hotKeys.refusals[row.combo] = GetParam().status;
  fake.hotKeys.detail = "why";
  listen();
  EXPECT_EQ(events.take(), (std::vector<Json>{GetParam().error}));
  EXPECT_EQ(fake.hotKeys.adds, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Ear, Refusals,
    ::testing::Values(Refusal{"Unavailable",
                              HotKeyService::unavailable,
                              {{"event", "error"}, {"reason", "no-system-key"}, {"detail", "why"}}},
                      Refusal{"Refused",
                              HotKeyService::refused,
                              {{"event", "error"}, {"reason", "key-refused"}, {"detail", "why"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostListening, ADesktopKeyLostIsTakenAgainWithABackOff) {
  fake.hotKeys.kindIs = HotKeyService::Kind::desktop;
  fake.hotKeys.grants = HotKeyService::Trigger{"Alt+Space", optionSpace};
  listen();
  names();
  fake.hotKeys.refusals[optionSpace] = HotKeyService::unavailable;
  for (const auto& row : voiceKeys) fake.hotKeys.refusals[row.combo] = HotKeyService::unavailable;
  fake.hotKeys.loseAll("gone");
  loop.runUntilIdle();
  EXPECT_EQ(names(), (Names{"error:key-lost"}));
  const int before = fake.hotKeys.adds;
  // Tries at 1, 3 and 7 s, quietly.
  loop.advanceInSteps(7500ms);
  EXPECT_EQ(fake.hotKeys.adds - before, 3);
  EXPECT_TRUE(names().empty());
  fake.hotKeys.refusals.clear();
  loop.advanceInSteps(8s);
  EXPECT_EQ(names(), (Names{"ready"}));
  loop.advanceInSteps(60s);
  EXPECT_TRUE(names().empty());
}

}  // namespace

namespace {

TEST_F(HostListening, ATriggerTheUserChangesIsAnnouncedAndOneTakenAwayIsLostUntilAKeyCommand) {
  fake.hotKeys.kindIs = HotKeyService::Kind::desktop;
  fake.hotKeys.grants = HotKeyService::Trigger{"Alt+Space", optionSpace};
  listen();
  names();
  fake.hotKeys.change({"Ctrl+Alt+Space", VoiceKeyCombo::controlOptionSpace});
  EXPECT_EQ(events.take(), (std::vector<Json>{{{"event", "ready"},
                                               {"key", "Ctrl+Alt+Space"},
                                               {"name", "control-option-space"},
                                               {"backend", "portal"}}}));
  ear->hostPress();
  loop.runUntilIdle();
  fake.hotKeys.change({"", std::nullopt});
  loop.runUntilIdle();
  EXPECT_EQ(names(), (Names{"down:1", "open:1", "up:1", "error:key-lost"}));
  // Not bound again behind the user's back.
  const int adds = fake.hotKeys.adds;
  loop.advanceInSteps(60s);
  EXPECT_EQ(fake.hotKeys.adds, adds);
  ear->languageChanged();
  fake.hotKeys.grants = HotKeyService::Trigger{"Alt+Space", optionSpace};
  ear->use("option-space");
  loop.runUntilIdle();
  EXPECT_EQ(names(), (Names{"final:1", "ready"}));
}

}  // namespace

namespace {

// A desktop that answers a bind later, as behind the user's confirmation dialog.
struct PendingBind {
  const char* name;
  std::vector<std::string> steps;
  Names names;
  std::set<VoiceKeyCombo> registered;  // at the end
};

class PendingBinds : public HostListening, public ::testing::WithParamInterface<PendingBind> {};

TEST_P(PendingBinds, LeaveHoldsServedAndNoKeyRegisteredUntilTheAnswer) {
  fake.hotKeys.kindIs = HotKeyService::Kind::desktop;
  fake.hotKeys.deferAdds = true;
  listen("option-space");
  EXPECT_TRUE(fake.hotKeys.registered().empty());
  for (const auto& what : GetParam().steps) {
    if (what == "answer") fake.hotKeys.answer();
    if (what == "answer lost") fake.hotKeys.answer(HotKeyService::lost);
    if (what == "answer refused") fake.hotKeys.answer(HotKeyService::refused);
    if (what == "other key") ear->use("control-shift-space");
    if (what == "wait") loop.advanceInSteps(1s);
    step(what);
  }
  EXPECT_EQ(names(), GetParam().names);
  EXPECT_EQ(fake.hotKeys.registered(), GetParam().registered);
  EXPECT_EQ(fake.hotKeys.waiting(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ear, PendingBinds,
    ::testing::Values(
        PendingBind{"HostHoldBeforeTheAnswer",
                    {"press", "chord down", "release", "answer"},
                    {"down:1", "open:1", "up:1", "final:1", "ready"},
                    {optionSpace}},
        PendingBind{"ChordOnlyOnceGranted",
                    {"chord down", "chord up", "answer", "chord down", "chord up"},
                    {"ready", "down:1", "open:1", "up:1", "final:1"},
                    {optionSpace}},
        // The first bind's grant is given back, and only the second is announced.
        PendingBind{
            "AnotherKeyDuringTheBind",
            {"other key", "answer", "answer"},
            {"ready"},
            {VoiceKeyCombo{VoiceKeyCombo::space, VoiceKeyCombo::control | VoiceKeyCombo::shift}}},
        PendingBind{"TheSameKeyDuringTheBind", {"key", "answer"}, {"ready"}, {optionSpace}},
        PendingBind{"LostDuringTheBindIsRetaken",
                    {"answer lost", "wait", "answer"},
                    {"error:key-lost", "ready"},
                    {optionSpace}},
        // A quiet retake answers a "key" command, and the retakes go on after its refusal.
        PendingBind{"RetakeAnsweringAKeyCommand",
                    {"answer", "lost", "wait", "key", "answer refused", "wait", "wait", "answer"},
                    {"ready", "error:key-lost", "error:key-refused", "ready"},
                    {optionSpace}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
