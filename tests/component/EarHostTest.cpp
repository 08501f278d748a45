// The listener's holds driven by the host, keys the desktop decides, and keys that are lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "listener/Ear.hpp"
#include "support/EventCapture.hpp"
#include "support/FakeCapture.hpp"
#include "support/FakePlatform.hpp"
#include "support/ListeningFixture.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::SimulatedLoop;
using namespace std::chrono_literals;
using Json = nlohmann::json;
using Names = std::vector<std::string>;

namespace {

constexpr VoiceKeyCombo optionSpace = VoiceKeyCombo::optionSpace;

constexpr VoiceKeyCombo escape{VoiceKeyCombo::escapeKey, 0};

// "150ms", "2s": a span of a scenario.
Duration spanOf(const std::string& text) {
  const bool millis = text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0;
  const long count = std::stol(text.substr(0, text.size() - (millis ? 2 : 1)));
  return millis ? Duration(std::chrono::milliseconds(count)) : std::chrono::seconds(count);
}

Names split(const std::string& text) {
  Names words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

class HostListening : public earshot::testing::ListeningFixture {
 protected:
  std::shared_ptr<Ear> listen(std::string key = "auto") { return ear = startEar(std::move(key)); }
  // One action of a scenario: the user's chord and the key state X reads, the host's commands,
  // the desktop's answers, the recognizer's next words, or time passing. Time passes only when
  // the line says so.
  void act(const std::string& what) {
    auto& keys = fake.hotKeys;
    const std::map<std::string, std::function<void()>> actions = {
        {"press", [&] { ear->hostPress(); }},
        {"release", [&] { ear->hostRelease(); }},
        {"cancel", [&] { ear->hostCancel(); }},
        {"chord down",
         [&] {
           keys.keysDown.insert(optionSpace.keyCode);
           keys.press(optionSpace);
         }},
        {"chord up",
         [&] {
           keys.keysDown.erase(optionSpace.keyCode);
           keys.release(optionSpace);
         }},
        {"chord down untrusted", [&] { keys.press(optionSpace); }},  // not read as down
        {"chord up late", [&] { keys.release(optionSpace); }},       // the release event alone
        {"keys read up", [&] { keys.keysDown.clear(); }},            // and X never says so
        {"escape", [&] { keys.press(escape); }},
        {"lost", [&] { keys.loseAll("gone"); }},
        {"language", [&] { ear->languageChanged(); }},
        {"key", [&] { ear->use("option-space"); }},
        {"other key", [&] { ear->use("control-shift-space"); }},
        {"answer", [&] { keys.answer(); }},
        {"answer lost", [&] { keys.answer(HotKeyService::lost); }},
        {"answer refused", [&] { keys.answer(HotKeyService::refused); }},
        {"idle", [&] { loop.runUntilIdle(); }},
    };
    if (auto found = actions.find(what); found != actions.end()) return found->second();
    const Names words = split(what);
    const std::string rest = what.substr(std::min(what.size(), words.at(0).size() + 1));
    if (words[0] == "says") {  // the next take's final text
      auto analyzer = std::make_shared<earshot::testing::FakeAnalyzer>();
      if (!rest.empty()) analyzer->script = {{rest, true}};
      fake.speech.nextAnalyzer = analyzer;
    } else if (words[0] == "feed") {
      fake.capture.latest()->feed(std::stoi(rest));
    } else if (words[0][0] == '+') {  // one move of the clock
      loop.advance(spanOf(words[0].substr(1)));
    } else if (words[0] == "run") {  // "run 2s" in steps of 10 ms, or "run 111s by 1s"
      loop.advanceInSteps(spanOf(words.at(1)), words.size() == 4 ? spanOf(words[3]) : 10ms);
    } else {
      ADD_FAILURE() << "no such step: " << what;
    }
  }
  // "event:id:reason" for each event not taken yet; `all` false leaves out levels and partials.
  Names names(bool all = true) {
    Names out;
    for (const auto& event : events.take()) {
      std::string name = event["event"];
      if (event.contains("id")) name += ":" + std::to_string(event["id"].get<int>());
      if (event.contains("reason")) name += ":" + event["reason"].get<std::string>();
      if (all || (name.rfind("level", 0) != 0 && name.rfind("partial", 0) != 0))
        out.push_back(name);
    }
    return out;
  }
  // A line of a scenario: "=> down:1 open:1" the events since the last check, "~>" the same
  // without levels and partials, a trailing "..." only their start; anything else an action.
  void line(const std::string& what) {
    SCOPED_TRACE(what);
    if (what.rfind("=>", 0) != 0 && what.rfind("~>", 0) != 0) return act(what);
    Names expected = split(what.substr(2));
    Names got = names(what[0] == '=');
    if (!expected.empty() && expected.back() == "...") {
      expected.pop_back();
      got.resize(std::min(got.size(), expected.size()));
    }
    EXPECT_EQ(got, expected);
  }

  std::shared_ptr<Ear> ear;
};

// A hold cycle as keyd tests a behaviour: what is pressed, time passing, the events expected.
struct Scenario {
  const char* name;
  const char* script;     // lines apart by ";"
  bool keyTaken = false;  // every row refused: no key at all
  Duration each{0};       // passes after every action
};

class Holds : public HostListening, public ::testing::WithParamInterface<Scenario> {};

TEST_P(Holds, GiveTheirEvents) {
  if (GetParam().keyTaken)
    for (const auto& row : voiceKeys)
      fake.hotKeys.refusals[row.combo] = HotKeyService::alreadyRegistered;
  listen();
  names();
  std::istringstream script(GetParam().script);
  for (std::string what; std::getline(script, what, ';');) {
    what = what.substr(what.find_first_not_of(' '));
    line(what);
    if (GetParam().each > Duration{0} && what[0] != '=' && what[0] != '~') {
      loop.runUntilIdle();
      loop.advanceInSteps(GetParam().each);
    }
  }
}

// Driven by the host, every action followed by half a second.
Scenario hosted(const char* name, const char* script, bool keyTaken = false) {
  return Scenario{name, script, keyTaken, 500ms};
}

INSTANTIATE_TEST_SUITE_P(
    Ear, Holds,
    ::testing::Values(
        hosted("PressRelease", "press; release; ~> down:1 open:1 up:1 final:1"),
        hosted("PressDuringAHoldAndReleaseWithoutOne",
               "release; press; press; release; release; ~> down:1 open:1 up:1 final:1"),
        hosted("Cancel", "cancel; press; cancel; release; ~> down:1 open:1 cancelled:1"),
        hosted("CancelTheChordsHoldAndItsReleaseDoesNothing",
               "chord down; cancel; chord up; ~> down:1 open:1 cancelled:1"),
        hosted("ReleaseTheChordsHold",
               "chord down; release; chord up; chord down; chord up;"
               "~> down:1 open:1 up:1 final:1 down:2 open:2 up:2 final:2"),
        hosted("ChordReleaseEndsTheHostsHold",
               "press; chord down; chord up; ~> down:1 open:1 up:1 final:1"),
        hosted("WithoutAKey", "press; release; ~> down:1 open:1 up:1 final:1", true),
        // The key goes away: a hold ends as a release, nothing names a key until one is taken.
        hosted("LostDuringAHold",
               "chord down; lost; language; chord up; key; language;"
               "~> down:1 open:1 up:1 error:key-lost final:1 ready ready"),
        hosted("LostWithoutAKey", "lost; ~>", true),
        // The buffer's level is posted to the loop but not delivered before Escape.
        Scenario{"ALevelOnItsWayWhenTheHoldIsCancelledIsNotSent",
                 "says; chord down; idle; feed 1; escape; chord up; run 1s;"
                 "=> down:1 open:1 cancelled:1"},
        // Trusted, the key state ends a hold whose release was lost; untrusted, only the limit. A
        // late release does nothing, and the next press is a new hold.
        Scenario{"TheWatchdogRecoversALostReleaseOnlyWhenTheKeyStateIsTrusted",
                 "says lost; chord down; run 500ms; keys read up; +150ms; => down:1 open:1;"
                 "+150ms; run 1s; => up:1 partial:1 final:1;"
                 "chord up late; chord down; idle; => down:2 ...; chord up; run 1s; => ...;"
                 "chord down untrusted; run 10s; => down:3 open:3; run 111s by 1s; => cancelled:3;"
                 "chord up late; chord down; idle; => down:4 ..."},
        Scenario{"AHoldTheHostStartedIsNotEndedByTheKeyStateButByTheLimit",
                 "keys read up; press; run 2s; ~> down:1 open:1; run 119s by 1s; run 300ms;"
                 "~> cancelled:1"}),
    [](const auto& info) { return std::string(info.param.name); });

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
    line(what);
    loop.runUntilIdle();
    loop.advanceInSteps(500ms);
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
                    {"answer lost", "run 1s", "answer"},
                    {"error:key-lost", "ready"},
                    {optionSpace}},
        // A quiet retake answers a "key" command, and the retakes go on after its refusal.
        PendingBind{
            "RetakeAnsweringAKeyCommand",
            {"answer", "lost", "run 1s", "key", "answer refused", "run 1s", "run 1s", "answer"},
            {"ready", "error:key-lost", "error:key-refused", "ready"},
            {optionSpace}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
