// The listening mode on a Wayland desktop without any X display: a private session bus, Debian's
// xdg-desktop-portal and a stand-in for the desktop's back end that the tests drive, with a private
// PulseAudio daemon for the microphone.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/AudioFiles.hpp"
#include "support/LiveProcess.hpp"
#include "support/PortalDesktop.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"

using namespace earshot::testing;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

long count(const std::vector<std::string>& names, const std::string& name) {
  return std::count(names.begin(), names.end(), name);
}

class PortalTest : public ::testing::Test {
 protected:
  explicit PortalTest(PortalDesktop::Options options = {})
      : desktop_(EARSHOT_STAND_IN_PORTAL, options) {}

  void SetUp() override {
    ASSERT_TRUE(desktop_.running());
    ASSERT_TRUE(pulse_.running());
  }
  void TearDown() override {
    if (listener_) {
      listener_.reset();
      std::ifstream in(folder_.file("stderr"));
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
    }
  }

  std::map<std::string, std::string> environment() const {
    auto environment = pulse_.environment();
    for (const auto& [name, value] : desktop_.environment()) environment[name] = value;
    return environment;
  }
  LiveProcess& start(std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {"--language", "en"});
    listener_ = std::make_unique<LiveProcess>(EARSHOT_BINARY, arguments, environment(),
                                              folder_.file("stderr"));
    return *listener_;
  }
  // Starts the listener and expects its "ready" for option-space.
  LiveProcess& ready() {
    LiveProcess& listener = start();
    const json event = listener.next();
    EXPECT_EQ(event.value("event", ""), "ready") << event;
    EXPECT_EQ(event.value("backend", ""), "portal") << event;
    return listener;
  }
  // A hold on the desktop's shortcut with speech, `repeats` further activations during it.
  std::vector<json> holdWithSpeech(LiveProcess& listener, int repeats) {
    EXPECT_TRUE(desktop_.control("press"));
    pulse_.play(speechRecording, "mic");
    for (int k = 0; k < repeats; ++k) {
      std::this_thread::sleep_for(3s / std::max(repeats, 1));
      EXPECT_TRUE(desktop_.control("press"));
    }
    std::this_thread::sleep_for(repeats ? 1s : 4s);
    EXPECT_TRUE(desktop_.control("release"));
    return listener.until("final", 30s);
  }
  // The survey's one event, after a silent run that ended well; null when there is not one.
  json survey() const {
    RunOptions options;
    options.environment = environment();
    options.timeout = 20s;
    const auto result = run(EARSHOT_BINARY, {"--keys"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const auto events = result.events();
    EXPECT_EQ(events.size(), 1u) << result.out;
    if (events.size() != 1) return {};
    EXPECT_EQ(events[0]["keys"].size(), 4u) << result.out;
    return events[0]["keys"].size() == 4u ? events[0] : json();
  }

  TemporaryFolder folder_;
  PortalDesktop desktop_;
  PulseServer pulse_;
  std::unique_ptr<LiveProcess> listener_;
};

TEST_F(PortalTest, ReadyNamesWhatTheDesktopBoundAndAskedForTheWantedChord) {
  LiveProcess& listener = start({"--key", "control-shift-space"});
  const json event = listener.next();
  EXPECT_EQ(event, (json{{"event", "ready"},
                         {"key", "CTRL+SHIFT+space"},
                         {"name", "control-shift-space"},
                         {"backend", "portal"}}));
  EXPECT_EQ(desktop_.report("bound"), "bound CTRL+SHIFT+space");
}

TEST_F(PortalTest, AHoldWithRepeatsGivesOneHoldWithItsEventsInOrder) {
  LiveProcess& listener = ready();
  const auto events = holdWithSpeech(listener, 6);
  ASSERT_FALSE(events.empty());
  const auto names = namesOf(events);
  EXPECT_EQ(count(names, "down"), 1) << json(events).dump();
  EXPECT_EQ(count(names, "up"), 1) << json(events).dump();
  auto at = [&](const std::string& name) {
    return std::find(names.begin(), names.end(), name) - names.begin();
  };
  EXPECT_EQ(at("down"), 0);
  EXPECT_LT(at("open"), at("up"));
  EXPECT_LT(at("level"), at("up"));
  EXPECT_LT(at("partial"), static_cast<long>(names.size())) << json(events).dump();
  EXPECT_LT(at("up"), at("final"));
  EXPECT_FALSE(events.back().value("text", "").empty()) << events.back();
  // Escape is never bound on the desktop: the one bind is the push-to-talk chord's.
  EXPECT_EQ(desktop_.report("bound", 500ms), "bound ALT+space");
  EXPECT_EQ(desktop_.report("bound", 500ms), "");
}

struct HostCase {
  const char* name;
  std::vector<std::string> lines;  // sent with a pause after each
  std::vector<std::string> names;  // the events that follow, until the last
};

class HostHolds : public PortalTest, public ::testing::WithParamInterface<HostCase> {};

TEST_P(HostHolds, GiveTheEventsOfTheChord) {
  LiveProcess& listener = ready();
  for (const auto& line : GetParam().lines) {
    if (line.rfind("desktop ", 0) == 0)
      EXPECT_TRUE(desktop_.control(line.substr(8)));
    else
      EXPECT_TRUE(listener.send(line));
    std::this_thread::sleep_for(700ms);
  }
  const auto events = listener.until(GetParam().names.back(), 15s);
  const auto names = milestonesOf(events);
  EXPECT_EQ(names, GetParam().names) << json(events).dump();
  // Nothing more comes.
  EXPECT_TRUE(listener.next(1500ms).is_null());
}

INSTANTIATE_TEST_SUITE_P(Portal, HostHolds,
                         ::testing::Values(HostCase{"PressAndRelease",
                                                    {"press", "press", "release", "release"},
                                                    {"down", "open", "up", "final"}},
                                           HostCase{"CancelOnTheDesktopsHold",
                                                    {"desktop press", "cancel", "desktop press",
                                                     "desktop release"},
                                                    {"down", "open", "cancelled"}},
                                           HostCase{"CancelOnTheHostsHold",
                                                    {"press", "cancel", "release"},
                                                    {"down", "open", "cancelled"}},
                                           HostCase{"HostReleaseOfTheDesktopsHold",
                                                    {"desktop press", "release", "desktop release"},
                                                    {"down", "open", "up", "final"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortalTest, ASessionClosedMidHoldEndsItAsAReleaseAndTheKeyComesBack) {
  LiveProcess& listener = ready();
  ASSERT_TRUE(desktop_.control("press"));
  ASSERT_FALSE(listener.until("open").empty());
  ASSERT_TRUE(desktop_.control("close"));
  const auto events = listener.until("error", 10s);
  ASSERT_FALSE(events.empty());
  const auto names = milestonesOf(events);
  EXPECT_EQ(names, (std::vector<std::string>{"up", "error"})) << json(events).dump();
  EXPECT_EQ(events.back().value("reason", ""), "key-lost");
  EXPECT_EQ(events.back().value("detail", ""), "the desktop closed the shortcut session");
  // The session is opened again, with a back-off, and the key announced once more.
  const auto back = listener.until({"ready"}, 15s);
  ASSERT_FALSE(back.empty());
  EXPECT_EQ(count(namesOf(back), "final"), 1) << json(back).dump();
  EXPECT_EQ(back.back().value("name", ""), "option-space");
  EXPECT_TRUE(desktop_.control("press"));
  EXPECT_EQ(listener.until("down").back().value("id", 0), 2);
}

TEST_F(PortalTest, ThePortalGoneAndBackTakesTheKeyAgainAndNoReadyMeanwhile) {
  LiveProcess& listener = ready();
  desktop_.stopPortal();
  const json lost = listener.next(10s);
  EXPECT_EQ(lost.value("reason", ""), "key-lost") << lost;
  EXPECT_EQ(lost.value("detail", ""), "the desktop portal left the bus") << lost;
  // No key, so nothing to announce.
  EXPECT_TRUE(listener.send("language en"));
  EXPECT_TRUE(listener.next(1500ms).is_null());
  // Holds the host drives go on without a key.
  EXPECT_TRUE(listener.send("press"));
  EXPECT_EQ(listener.next().value("event", ""), "down");
  EXPECT_TRUE(listener.send("cancel"));
  EXPECT_FALSE(listener.until("cancelled").empty());
  ASSERT_TRUE(desktop_.startPortal());
  const json back = listener.next(40s);
  EXPECT_EQ(back.value("event", ""), "ready") << back;
  EXPECT_EQ(back.value("backend", ""), "portal") << back;
}

TEST_F(PortalTest, ATriggerTheUserChangesIsAnnouncedAndOneTakenAwayIsLost) {
  LiveProcess& listener = ready();
  ASSERT_TRUE(desktop_.control("change Ctrl+Alt+Space"));
  EXPECT_EQ(listener.next(), (json{{"event", "ready"},
                                   {"key", "Ctrl+Alt+Space"},
                                   {"name", "control-option-space"},
                                   {"backend", "portal"}}));
  ASSERT_TRUE(desktop_.control("change -"));
  EXPECT_EQ(listener.next(), (json{{"event", "error"},
                                   {"reason", "key-lost"},
                                   {"detail", "the desktop took the shortcut's trigger away"}}));
  EXPECT_TRUE(listener.send("language en"));
  EXPECT_TRUE(listener.next(1500ms).is_null());
  EXPECT_TRUE(listener.send("key option-space"));
  EXPECT_EQ(listener.next().value("name", ""), "option-space");
}

// Binds the desktop answers only later, as behind the user's confirmation dialog: the listener
// goes on serving meanwhile.
struct PendingCase {
  const char* name;
  // "desktop X": to the stand-in; "expect E": the events until E; anything else: to the listener.
  std::vector<std::string> steps;
  std::vector<std::string> names;  // every event, "level" and "partial" aside
  json last;                       // the last event, when not null
  std::vector<std::string> binds;  // what the stand-in was asked after the first, in order
};

class PendingBinds : public PortalTest, public ::testing::WithParamInterface<PendingCase> {};

TEST_P(PendingBinds, LeaveTheListenerServing) {
  ASSERT_TRUE(desktop_.control("hold"));
  LiveProcess& listener = start();
  ASSERT_EQ(desktop_.report("bound"), "bound ALT+space");
  std::vector<json> events;
  for (const auto& step : GetParam().steps) {
    if (step.rfind("desktop ", 0) == 0) {
      EXPECT_TRUE(desktop_.control(step.substr(8)));
    } else if (step.rfind("expect ", 0) == 0) {
      const auto more = listener.until(step.substr(7), 15s);
      ASSERT_FALSE(more.empty()) << step << " after " << json(events).dump();
      events.insert(events.end(), more.begin(), more.end());
    } else {
      EXPECT_TRUE(listener.send(step));
    }
  }
  const auto names = milestonesOf(events);
  EXPECT_EQ(names, GetParam().names) << json(events).dump();
  if (!GetParam().last.is_null()) {
    EXPECT_EQ(events.back(), GetParam().last);
  }
  for (const auto& event : events) {
    if (event.value("event", "") != "error") continue;
    EXPECT_EQ(event, (json{{"event", "error"},
                           {"reason", "key-lost"},
                           {"detail", "the desktop closed the shortcut session"}}));
  }
  EXPECT_TRUE(listener.next(1500ms).is_null());
  for (const auto& bind : GetParam().binds) EXPECT_EQ(desktop_.report("bound", 2s), bind);
  EXPECT_EQ(desktop_.report("bound", 300ms), "");
}

const json readyAltSpace = {
    {"event", "ready"}, {"key", "ALT+space"}, {"name", "option-space"}, {"backend", "portal"}};

INSTANTIATE_TEST_SUITE_P(
    Portal, PendingBinds,
    ::testing::Values(
        PendingCase{
            "HostHoldBeforeTheAnswer",
            {"press", "expect open", "release", "expect final", "desktop answer", "expect ready"},
            {"down", "open", "up", "final", "ready"},
            readyAltSpace,
            {}},
        // No key is registered before the grant: the shortcut's activations go nowhere.
        PendingCase{"ShortcutOnlyOnceGranted",
                    {"desktop press", "desktop release", "desktop answer", "expect ready",
                     "desktop press", "expect open", "desktop release", "expect final"},
                    {"ready", "down", "open", "up", "final"},
                    nullptr,
                    {}},
        // The first bind's answer is stale: only the key asked for last is announced.
        PendingCase{"AnotherKeyDuringTheBind",
                    {"key control-shift-space", "desktop answer", "expect ready"},
                    {"ready"},
                    {{"event", "ready"},
                     {"key", "CTRL+SHIFT+space"},
                     {"name", "control-shift-space"},
                     {"backend", "portal"}},
                    {"bound CTRL+SHIFT+space"}},
        // Told as a lost key, and taken again with the back-off.
        PendingCase{"SessionClosedDuringTheBind",
                    {"desktop close", "expect error", "desktop answer", "expect ready"},
                    {"error", "ready"},
                    readyAltSpace,
                    {"bound ALT+space"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortalTest, QuitDuringABindEndsAtOnce) {
  ASSERT_TRUE(desktop_.control("hold"));
  LiveProcess& listener = start();
  ASSERT_EQ(desktop_.report("bound"), "bound ALT+space");
  EXPECT_TRUE(listener.send("quit"));
  EXPECT_EQ(listener.waitFor(3s), 0);
  EXPECT_TRUE(listener.next(100ms).is_null());
}

struct GrantCase {
  const char* name;
  std::string command;  // to the stand-in before the listener starts
  json first;           // the listener's first event
};

class Grants : public PortalTest, public ::testing::WithParamInterface<GrantCase> {};

TEST_P(Grants, AreToldAsTheDesktopDecided) {
  ASSERT_TRUE(desktop_.control(GetParam().command));
  LiveProcess& listener = start();
  EXPECT_EQ(listener.next(), GetParam().first);
}

INSTANTIATE_TEST_SUITE_P(
    Portal, Grants,
    ::testing::Values(
        // The user chose another chord, which is a row of its own.
        GrantCase{"AnotherRow",
                  "trigger Ctrl+Alt+Space",
                  {{"event", "ready"},
                   {"key", "Ctrl+Alt+Space"},
                   {"name", "control-option-space"},
                   {"backend", "portal"}}},
        // A chord of no row: no row is named.
        GrantCase{
            "NoRow",
            "trigger Super+V",
            {{"event", "ready"}, {"key", "Super+V"}, {"name", "desktop"}, {"backend", "portal"}}},
        GrantCase{"NoTrigger",
                  "trigger -",
                  {{"event", "error"},
                   {"reason", "key-refused"},
                   {"detail", "the desktop assigned the shortcut no trigger"}}},
        GrantCase{"Trimmed",
                  "trim",
                  {{"event", "error"},
                   {"reason", "key-refused"},
                   {"detail", "the desktop did not bind the shortcut"}}},
        // What a portal that cannot tell which application asks does.
        GrantCase{"RefusedSession",
                  "refuse create",
                  {{"event", "error"},
                   {"reason", "key-refused"},
                   {"detail", "the desktop portal refused a shortcut session"}}},
        GrantCase{"RefusedBind",
                  "refuse bind",
                  {{"event", "error"},
                   {"reason", "key-refused"},
                   {"detail", "the desktop portal refused the shortcut"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortalTest, TheSurveyTriesNothingAndReportsNoGuess) {
  const json event = survey();
  ASSERT_FALSE(event.is_null());
  EXPECT_EQ(event.value("backend", ""), "portal");
  for (const auto& row : event["keys"]) EXPECT_TRUE(row["free"].is_null()) << row;
  EXPECT_EQ(desktop_.report("bound", 500ms), "");
  EXPECT_EQ(desktop_.report("session", 100ms), "");
}

// A bus with no portal, and a portal without global shortcuts.
struct AbsentCase {
  const char* name;
  PortalDesktop::Options options;
};

class WithoutShortcuts : public PortalTest, public ::testing::WithParamInterface<AbsentCase> {
 protected:
  WithoutShortcuts() : PortalTest(GetParam().options) {}
};

TEST_P(WithoutShortcuts, NoSystemKeyIsSaidAndTheHostStillHolds) {
  LiveProcess& listener = start();
  EXPECT_EQ(listener.next(15s),
            (json{{"event", "error"},
                  {"reason", "no-system-key"},
                  {"detail", "a Wayland session without the desktop portal's global shortcuts"}}));
  EXPECT_TRUE(listener.send("press"));
  pulse_.play(speechRecording, "mic");
  std::this_thread::sleep_for(4s);
  EXPECT_TRUE(listener.send("release"));
  const auto events = listener.until("final", 30s);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().value("event", ""), "down");
  EXPECT_FALSE(events.back().value("text", "").empty()) << events.back();
}

TEST_P(WithoutShortcuts, TheSurveySaysNoRowIsFree) {
  const json event = survey();
  ASSERT_FALSE(event.is_null());
  EXPECT_EQ(event.value("backend", ""), "none");
  for (const auto& row : event["keys"]) EXPECT_EQ(row["free"], false) << row;
}

INSTANTIATE_TEST_SUITE_P(Portal, WithoutShortcuts,
                         ::testing::Values(AbsentCase{"NoPortal", {false, true}},
                                           AbsentCase{"NoGlobalShortcuts", {true, false}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
