#include <gtest/gtest.h>

#include <memory>

#include "listener/Ear.hpp"
#include "support/EventCapture.hpp"
#include "support/FakeCapture.hpp"
#include "support/FakePlatform.hpp"
#include "support/ListeningFixture.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::settle;
using earshot::testing::SimulatedLoop;
using namespace std::chrono_literals;
using earshot::testing::FakeAnalyzer;
using Json = nlohmann::json;
using Names = std::vector<std::string>;

namespace {

constexpr VoiceKeyCombo optionSpace = VoiceKeyCombo::optionSpace;
constexpr VoiceKeyCombo escape{VoiceKeyCombo::escapeKey, 0};

class Listening : public earshot::testing::ListeningFixture {
 protected:
  std::shared_ptr<Ear> listen(std::string key = "auto") { return startEar(std::move(key)); }
  // The next analyzer, with what it will say.
  std::shared_ptr<FakeAnalyzer> says(std::vector<SpeechResult> live, std::string final) {
    auto analyzer = std::make_shared<FakeAnalyzer>();
    analyzer->live = std::move(live);
    if (!final.empty()) analyzer->script = {{final, true}};
    fake.speech.nextAnalyzer = analyzer;
    return analyzer;
  }
  void press(VoiceKeyCombo combo = optionSpace) {
    fake.hotKeys.keysDown.insert(combo.keyCode);
    fake.hotKeys.press(combo);
  }
  void release(VoiceKeyCombo combo = optionSpace) {
    fake.hotKeys.keysDown.erase(combo.keyCode);
    fake.hotKeys.release(combo);
  }
  // "name:id" for each event not taken yet; keeps them for inspection.
  Names names() {
    Names out;
    taken = events.take();
    for (const auto& event : taken) {
      std::string name = event["event"];
      if (event.contains("id")) name += ':' + std::to_string(event["id"].get<int>());
      out.push_back(name);
    }
    return out;
  }
  Json find(const std::string& name) {
    for (const auto& event : taken)
      if (event["event"] == name) return event;
    return nullptr;
  }

  std::vector<Json> taken;
};

TEST_F(Listening, AHoldGivesItsEventsInOrderAndTheFinalWithTheTimeHeld) {
  auto ear = listen();
  EXPECT_EQ(names(), Names{"ready"});
  EXPECT_EQ(find("ready")["name"], "option-space");
  says({{"open", false}, {"open fire", false}}, "open firefox");
  press();
  loop.runUntilIdle();
  fake.capture.latest()->feed(2);
  // "ready" and the five events before "up": both partials must be in before the release.
  EXPECT_TRUE(settle(loop, [&] { return events.lines().size() >= 6; }));
  loop.advance(1s);
  release();
  loop.advanceInSteps(1s);
  EXPECT_EQ(names(), (Names{"down:1", "open:1", "level:1", "partial:1", "partial:1", "up:1",
                            "partial:1", "final:1"}));
  EXPECT_EQ(find("final")["text"], "open firefox");
  EXPECT_EQ(find("final")["held"], 1.0);
}

TEST_F(Listening, TwoQuickHoldsKeepTheirOwnNumbers) {
  auto ear = listen();
  names();
  auto slow = says({}, "first");
  slow->neverFinish = false;
  press();
  loop.runUntilIdle();
  release();
  says({}, "second");
  loop.advance(100ms);  // inside the first hold's tail
  press();
  loop.runUntilIdle();
  release();
  loop.advanceInSteps(2s);
  const Names got = names();
  std::vector<std::string> finals;
  for (const auto& event : taken)
    if (event["event"] == "final") finals.push_back(std::to_string(event["id"].get<int>()));
  EXPECT_EQ(finals, (std::vector<std::string>{"1", "2"}));
  // The second hold began before the first one's final.
  auto at = [&](const std::string& name) { return std::find(got.begin(), got.end(), name); };
  EXPECT_LT(at("down:2"), at("final:1"));
}

TEST_F(Listening, AHoldThatEndsWhileItsTakeIsOpening) {
  struct Row {
    const char* name;
    bool cancel;
    Names expected;
  };
  for (const Row& row : {Row{"released", false, {"down:1", "up:1", "final:1"}},
                         Row{"cancelled", true, {"down:1", "cancelled:1"}}}) {
    earshot::testing::FakePlatform platform;
    platform.speech.answerDelay = 0.5;  // the take is still opening at the release
    earshot::testing::EventCapture capture;
    auto ear =
        std::make_shared<Ear>(platform.platform, "auto", earshot::testing::recordingSink(exits));
    ear->start();
    platform.loop.runUntilIdle();
    capture.take();
    platform.hotKeys.keysDown.insert(VoiceKeyCombo::space);
    platform.hotKeys.press(optionSpace);
    platform.loop.advance(125ms);
    if (row.cancel)
      platform.hotKeys.press(escape);
    else
      platform.hotKeys.release(optionSpace);
    platform.loop.advanceInSteps(3s);
    Names got;
    Json final;
    for (const auto& event : capture.take()) {
      got.push_back(std::string(event["event"]) + ":" + std::to_string(event["id"].get<int>()));
      if (event["event"] == "final") final = event;
    }
    EXPECT_EQ(got, row.expected) << row.name;
    if (!row.cancel) {
      EXPECT_EQ(final["text"], "") << "let go before the microphone opened";
      EXPECT_EQ(final["held"], 0.13) << "0.125 s rounds to 0.13";
    }
    EXPECT_FALSE(ear->speech().isRunning()) << row.name;
  }
}

TEST_F(Listening, EscapeCancelsWithAnySubsetOfTheChordsModifiersAndThePoolOnlyGrows) {
  const VoiceKeyCombo controlOption = VoiceKeyCombo::controlOptionSpace;
  auto ear = listen("control-option-space");
  names();
  for (std::uint32_t mods : {0x1800u, 0x0800u, 0x1000u, 0u}) {
    press(controlOption);
    loop.runUntilIdle();
    EXPECT_EQ(fake.hotKeys.registered().size(), 5u) << "the key and four Escape chords";
    ASSERT_TRUE(fake.hotKeys.press({VoiceKeyCombo::escapeKey, mods})) << mods;
    fake.hotKeys.release({VoiceKeyCombo::escapeKey, mods});
    release(controlOption);
    loop.advanceInSteps(500ms);
    const Names got = names();
    ASSERT_EQ(got.size(), 3u) << mods;
    EXPECT_EQ(got[2].substr(0, 10), "cancelled:") << mods;
    EXPECT_EQ(fake.hotKeys.registered().size(), 1u) << "the pool is let go after the hold";
  }
  EXPECT_EQ(ear->escapePool(), 4u);
  ear->use("control-option-command-space");
  press({VoiceKeyCombo::space, 0x1900});
  loop.runUntilIdle();
  EXPECT_EQ(ear->escapePool(), 7u);
  EXPECT_EQ(fake.hotKeys.registered().count({VoiceKeyCombo::escapeKey, 0x0900}), 0u);
  release({VoiceKeyCombo::space, 0x1900});
  loop.advanceInSteps(500ms);
  ear->use("option-space");
  press();
  loop.runUntilIdle();
  EXPECT_EQ(ear->escapePool(), 7u) << "never shrinks";
  EXPECT_EQ(fake.hotKeys.registered().size(), 3u) << "the key, option-Escape and Escape";
  release();
  loop.advanceInSteps(500ms);
}

TEST_F(Listening, AKeyStillHeldAfterTheLimitStartsNothingUntilItIsLetGoAndPressedAgain) {
  struct Row {
    const char* name;
    bool trusted;      // the key read as down at the press
    bool releaseSent;  // X delivers the release
  };
  auto ear = listen();
  names();
  int id = 0;
  auto hold = [&](const char* name) { return std::string(name) + ":" + std::to_string(id); };
  for (const Row& row :
       {Row{"trusted, released", true, true}, Row{"untrusted, released", false, true},
        Row{"trusted, release lost", true, false}}) {
    SCOPED_TRACE(row.name);
    says({}, "");
    if (row.trusted) fake.hotKeys.keysDown.insert(optionSpace.keyCode);
    fake.hotKeys.press(optionSpace);
    fake.hotKeys.keysDown.insert(optionSpace.keyCode);
    ++id;
    loop.advanceInSteps(121s, 1s);
    EXPECT_EQ(names(), (Names{hold("down"), hold("open"), hold("cancelled")}));
    // The server goes on repeating the key that is still held.
    for (int i = 0; i < 20; ++i) {
      fake.hotKeys.press(optionSpace);
      loop.advance(30ms);
    }
    loop.advanceInSteps(1s);
    EXPECT_EQ(names(), Names{}) << "a repeat of the cancelled press started a hold";
    fake.hotKeys.keysDown.erase(optionSpace.keyCode);
    if (row.releaseSent) fake.hotKeys.release(optionSpace);
    loop.advanceInSteps(500ms);
    EXPECT_EQ(names(), Names{});
    says({}, "");
    press();
    loop.runUntilIdle();
    ++id;
    EXPECT_EQ(names().front(), hold("down"));
    release();
    loop.advanceInSteps(1s);
    names();
  }
}

TEST_F(Listening, KeyChangesAndLanguageChangesDuringAHold) {
  auto ear = listen();
  names();
  says({}, "kept english");
  press();
  loop.runUntilIdle();
  // The host switches to Portuguese mid-hold; this hold keeps English.
  spoken = Language::portuguese;
  ear->languageChanged();
  loop.runUntilIdle();
  EXPECT_EQ(names(), (Names{"down:1", "open:1", "ready"}));
  EXPECT_EQ(find("ready")["key"], "⌥ Espaço");
  ear->use("control-option-space");
  loop.advanceInSteps(1s);
  EXPECT_EQ(names(), (Names{"up:1", "ready", "partial:1", "final:1"}));
  EXPECT_EQ(find("ready")["name"], "control-option-space");
  EXPECT_EQ(find("final")["text"], "kept english");
}

TEST_F(Listening, TakingKeys) {
  struct Row {
    const char* wanted;
    std::vector<VoiceKeyCombo> taken;
    const char* name;  // nullptr: every row taken
  };
  const VoiceKeyCombo controlShift{VoiceKeyCombo::space, 0x1200};
  const VoiceKeyCombo all{VoiceKeyCombo::space, 0x1900};
  for (const Row& row : {
           Row{"auto", {}, "option-space"},
           Row{"control-shift-space", {}, "control-shift-space"},
           Row{"control-shift-space", {controlShift}, "option-space"},
           Row{"nonsense", {optionSpace}, "control-option-space"},
           Row{"auto",
               {optionSpace, VoiceKeyCombo::controlOptionSpace, controlShift, all},
               nullptr},
       }) {
    earshot::testing::FakePlatform platform;
    for (auto combo : row.taken)
      platform.hotKeys.refusals[combo] = HotKeyService::alreadyRegistered;
    earshot::testing::EventCapture capture;
    auto ear = std::make_shared<Ear>(platform.platform, row.wanted,
                                     earshot::testing::recordingSink(exits));
    ear->start();
    platform.loop.runUntilIdle();
    auto got = capture.take();
    ASSERT_EQ(got.size(), 1u) << row.wanted;
    if (row.name) {
      EXPECT_EQ(got[0]["event"], "ready");
      EXPECT_EQ(got[0]["name"], row.name);
    } else {
      EXPECT_EQ(got[0], (Json{{"event", "error"}, {"reason", "key-taken"}}));
    }
  }
}

TEST_F(Listening, AKeyCommandForTheKeyInUseIsSilentAndOneForATakenKeyNamesTheNextFreeRow) {
  auto ear = listen("option-space");
  names();
  ear->use("option-space");
  loop.runUntilIdle();
  EXPECT_TRUE(names().empty());
  fake.hotKeys.refusals[VoiceKeyCombo::controlOptionSpace] = HotKeyService::alreadyRegistered;
  ear->use("control-option-space");
  loop.runUntilIdle();
  EXPECT_EQ(names(), Names{"ready"});
  EXPECT_EQ(find("ready")["name"], "option-space");
}

}  // namespace
