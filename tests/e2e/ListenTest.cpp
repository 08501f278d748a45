// The listening mode end to end: the real binary under a private Xvfb and a private PulseAudio
// daemon, the chord pressed with xdotool, speech played into the microphone in real time.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/AppFixtures.hpp"
#include "support/AudioFiles.hpp"
#include "support/Child.hpp"
#include "support/Exec.hpp"
#include "support/LiveProcess.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"
#include "support/XServer.hpp"

using namespace earshot::testing;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string& recording = speechRecording;

// The binary in listening mode.
struct Listener : LiveProcess {
  Listener(const std::map<std::string, std::string>& environment, const std::string& errors,
           std::vector<std::string> arguments = {})
      : LiveProcess(EARSHOT_BINARY, withEnglish(std::move(arguments)), environment, errors) {}

  static std::vector<std::string> withEnglish(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--language", "en"});
    return arguments;
  }
};

class ListenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x_.running());
    ASSERT_TRUE(pulse_.running());
  }
  void TearDown() override {
    if (listener_) {
      listener_.reset();
      EXPECT_EQ(errorsOf(), "");
    }
  }

  Listener& start(std::vector<std::string> arguments = {},
                  const std::map<std::string, std::string>& more = {}) {
    auto environment = pulse_.environment();
    environment["DISPLAY"] = x_.display();
    environment.insert(more.begin(), more.end());
    listener_ = std::make_unique<Listener>(environment, folder_.file("stderr"), arguments);
    return *listener_;
  }
  std::string errorsOf() {
    std::ifstream in(folder_.file("stderr"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void xdotool(std::vector<std::string> arguments) {
    RunOptions options;
    options.environment["DISPLAY"] = x_.display();
    options.timeout = 10s;
    EXPECT_EQ(run(programPath("xdotool"), arguments, options).status, 0);
  }
  std::unique_ptr<Child> grab(const std::string& keysym, unsigned modifiers) {
    auto child = std::make_unique<Child>(
        EARSHOT_GRAB_CHORD, std::vector<std::string>{keysym, std::to_string(modifiers)},
        std::map<std::string, std::string>{{"DISPLAY", x_.display()}});
    EXPECT_EQ(child->readLine(), "grabbed");
    return child;
  }

  TemporaryFolder folder_;
  XServer x_;
  PulseServer pulse_;
  std::unique_ptr<Listener> listener_;
};

TEST_F(ListenTest, AHoldWithSpeechGivesItsEventsInOrderAndAHeldCloseToTheHold) {
  Listener& listener = start();
  const json ready = listener.next();
  EXPECT_EQ(ready.value("event", ""), "ready") << ready;
  EXPECT_EQ(ready.value("name", ""), "option-space") << ready;

  xdotool({"keydown", "alt+space"});
  const auto started = std::chrono::steady_clock::now();
  pulse_.play(recording, "mic");
  std::this_thread::sleep_for(4s);
  xdotool({"keyup", "alt+space"});
  const double held =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const auto events = listener.until("final", 30s);
  ASSERT_FALSE(events.empty());
  const auto names = namesOf(events);
  ASSERT_EQ(names.front(), "down") << json(events).dump();
  const json id = events.front()["id"];
  for (const auto& event : events) EXPECT_EQ(event["id"], id) << event;
  auto at = [&](const std::string& name) {
    return std::find(names.begin(), names.end(), name) - names.begin();
  };
  const auto count = static_cast<long>(names.size());
  EXPECT_LT(at("open"), count);
  EXPECT_LT(at("open"), at("up"));
  EXPECT_LT(at("level"), at("up"));
  EXPECT_LT(at("up"), at("final"));
  EXPECT_LT(at("partial"), count) << json(events).dump();
  const json final = events.back();
  EXPECT_FALSE(final.value("text", "").empty()) << final;
  EXPECT_NEAR(final.value("held", 0.0), held, 0.5) << final;
}

// An application installed while the listener runs can be said at the next hold.
TEST_F(ListenTest, WithAppNamesAHoldHearsAnApplicationInstalledMeanwhile) {
  const std::string data = folder_.path() + "/data";
  makeDesktopFile(data + "/applications/firefox.desktop",
                  {"Type=Application", "Name=Firefox", "Exec=true"});
  Listener& listener = start({"--app-names"}, {{"HOME", folder_.path() + "/home"},
                                               {"XDG_DATA_HOME", data},
                                               {"XDG_DATA_DIRS", folder_.path() + "/none"}});
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  makeDesktopFile(data + "/applications/code.desktop",
                  {"Type=Application", "Name=Visual Studio Code", "Exec=true"});
  // The first scan is older than the cache's age at the hold.
  std::this_thread::sleep_for(6s);
  const std::string said = folder_.file("said.wav");
  RunOptions synthesis;
  synthesis.timeout = 30s;
  ASSERT_EQ(run(programPath("flite"),
                {"-voice", "slt", "-t", "open visual studio code", "-o", said}, synthesis)
                .status,
            0);
  xdotool({"keydown", "alt+space"});
  pulse_.play(said, "mic");
  std::this_thread::sleep_for(3s);
  xdotool({"keyup", "alt+space"});
  const auto events = listener.until("final", 30s);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().value("text", ""), "visual studio code") << json(events).dump();
}

TEST_F(ListenTest, EscapeDuringAHoldCancelsIt) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  xdotool({"keydown", "alt+space"});
  ASSERT_EQ(listener.until("down").back().value("id", -1), 1);
  std::this_thread::sleep_for(500ms);
  xdotool({"key", "Escape"});
  xdotool({"keyup", "alt+space"});
  const auto events = listener.until("cancelled");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().value("id", -1), 1);
  for (const auto& name : namesOf(events)) EXPECT_NE(name, "final");
  // Nothing more for that hold.
  EXPECT_TRUE(listener.next(1s).is_null());
}

TEST_F(ListenTest, ALongHoldUnderKeyRepeatGivesOneDown) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  xdotool({"keydown", "alt+space"});
  std::this_thread::sleep_for(2s);
  xdotool({"keyup", "alt+space"});
  const auto events = listener.until("final");
  const auto names = namesOf(events);
  EXPECT_EQ(std::count(names.begin(), names.end(), "down"), 1) << json(events).dump();
  EXPECT_EQ(std::count(names.begin(), names.end(), "up"), 1) << json(events).dump();
}

struct TapCase {
  const char* name;
  bool frozen;  // the sound server stopped (SIGSTOP) after "ready"
  std::chrono::milliseconds hold;
};

class Taps : public ListenTest, public ::testing::WithParamInterface<TapCase> {};

// Nothing the listener waits for underneath holds up the keys: right after "ready", while the
// recognizer still loads, and with a sound server that no longer answers, a short hold still
// gets its "up" and a "held" of its own length.
TEST_P(Taps, GetTheirUpAndTheirLength) {
  const auto& row = GetParam();
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  if (row.frozen) {
    std::this_thread::sleep_for(1500ms);
    pulse_.freeze();
  }
  // The second comes after a take start that met whatever the first one did.
  for (int tap = 1; tap <= 2; ++tap) {
    SCOPED_TRACE("tap " + std::to_string(tap));
    xdotool({"keydown", "alt+space"});
    const auto pressed = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(row.hold);
    const double held =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count();
    xdotool({"keyup", "alt+space"});
    const auto events = listener.until({"final", "error"}, 20s);
    ASSERT_FALSE(events.empty());
    const auto names = namesOf(events);
    EXPECT_EQ(std::count(names.begin(), names.end(), "up"), 1) << json(events).dump();
    ASSERT_EQ(names.back(), "final") << json(events).dump();
    // The press and the release each cost an xdotool run, a few milliseconds on an idle machine.
    EXPECT_NEAR(events.back().value("held", -1.0), held, 0.1) << json(events).dump();
  }
  if (row.frozen) pulse_.thaw();
}

INSTANTIATE_TEST_SUITE_P(Listening, Taps,
                         ::testing::Values(TapCase{"RightAfterReady", false, 50ms},
                                           TapCase{"FrozenSoundServer", true, 50ms},
                                           TapCase{"FrozenSoundServerLonger", true, 300ms}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CommandCase {
  const char* name;
  std::vector<std::string> lines;
  std::string readyName;  // of the answer
};

class Commands : public ListenTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(Commands, AnswerReady) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  for (const auto& line : GetParam().lines) EXPECT_TRUE(listener.send(line));
  const json answer = listener.next();
  EXPECT_EQ(answer.value("event", ""), "ready") << answer;
  EXPECT_EQ(answer.value("name", ""), GetParam().readyName) << answer;
}

INSTANTIATE_TEST_SUITE_P(
    Listening, Commands,
    ::testing::Values(CommandCase{"Key", {"key control-shift-space"}, "control-shift-space"},
                      CommandCase{"Language", {"language en"}, "option-space"},
                      // An unknown word gets no answer; the next command still does.
                      CommandCase{
                          "AfterNoise",
                          {"hello", "key\tcontrol-option-space", "key control-option-space"},
                          "control-option-space"}),
    [](const auto& info) { return std::string(info.param.name); });

struct EndingCase {
  const char* name;
  bool quit;
};

class Ending : public ListenTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(Ending, EndsWithStatusZero) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  if (GetParam().quit)
    EXPECT_TRUE(listener.send("quit"));
  else
    listener.closeInput();
  EXPECT_EQ(listener.waitFor(10s), 0);
}

INSTANTIATE_TEST_SUITE_P(Listening, Ending,
                         ::testing::Values(EndingCase{"Quit", true},
                                           EndingCase{"EndOfInput", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListenTest, AReleaseThatNeverReachesTheListenerStillEndsTheHold) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  xdotool({"keydown", "alt+space"});
  ASSERT_EQ(listener.until("open").back().value("id", -1), 1);
  {
    // Another client takes the keyboards: the release goes to it, and the core keyboard, which no
    // longer hears from them, keeps the key down (and repeats it).
    Child other(EARSHOT_GRAB_KEYBOARDS, {}, {{"DISPLAY", x_.display()}});
    ASSERT_EQ(other.readLine(), "grabbed");
    xdotool({"keyup", "alt+space"});
    const auto events = listener.until("final", 10s);
    ASSERT_FALSE(events.empty());
    auto names = namesOf(events);
    EXPECT_EQ(std::count(names.begin(), names.end(), "up"), 1) << json(events).dump();
    EXPECT_EQ(std::count(names.begin(), names.end(), "down"), 0) << json(events).dump();
    EXPECT_EQ(events.back().value("id", -1), 1) << events.back();
    // Nothing is held: no hold starts.
    EXPECT_TRUE(listener.next(1s).is_null());
  }
  // The next press is a hold of its own.
  xdotool({"keydown", "alt+space"});
  std::this_thread::sleep_for(300ms);
  xdotool({"keyup", "alt+space"});
  const auto next = listener.until("final", 10s);
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next.front().value("event", ""), "down") << json(next).dump();
  EXPECT_EQ(next.back().value("id", -1), 2) << json(next).dump();
}

TEST_F(ListenTest, AChordHeldByAnotherClientMakesReadyNameTheNextRow) {
  constexpr unsigned mod1Mask = 1 << 3;
  auto other = grab("space", mod1Mask);
  Listener& listener = start();
  const json ready = listener.next();
  EXPECT_EQ(ready.value("event", ""), "ready") << ready;
  EXPECT_EQ(ready.value("name", ""), "control-option-space") << ready;
}

}  // namespace
