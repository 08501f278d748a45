// The X11 hot-key service and VoiceHotKey over it, against a private X server driven by xdotool.
#include <gtest/gtest.h>

#include "async/MainLoop.hpp"
#include "hotkeys/VoiceHotKey.hpp"
#include "platform/linux/X11HotKeys.hpp"
#include "platform/linux/X11Windows.hpp"
#include "support/Child.hpp"
#include "support/HangUpXServer.hpp"
#include "support/Process.hpp"
#include "support/SimulatedLoop.hpp"
#include "support/XServer.hpp"

// Last: Xlib's macros.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

using earshot::HotKeyService;
using earshot::MainLoop;
using earshot::VoiceHotKey;
using earshot::VoiceKeyCombo;
using earshot::linux_platform::X11HotKeys;
using earshot::linux_platform::X11Windows;
using earshot::testing::Child;
using earshot::testing::HangUpXServer;
using earshot::testing::settle;
using earshot::testing::XServer;

namespace {

using Identifier = HotKeyService::Identifier;

struct Event {
  std::uint32_t number;
  bool pressed;
  friend bool operator==(const Event&, const Event&) = default;
};

class X11 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.running()); }
  void TearDown() override {
    for (auto& key : keys) key->unregister();
  }

  void xdotool(std::vector<std::string> arguments) {
    earshot::testing::RunOptions options;
    options.environment["DISPLAY"] = server.display();
    auto result = earshot::testing::run("/usr/bin/xdotool", arguments, options);
    ASSERT_EQ(result.status, 0) << result.err;
  }

  // Records every raw event of the service.
  void installRecorder() {
    ASSERT_EQ(service.install([this](Identifier identifier, bool pressed) {
      EXPECT_TRUE(loop.onLoopThread());
      EXPECT_EQ(identifier.signature, 7u);
      events.push_back({identifier.number, pressed});
    }),
              0);
  }

  HotKeyService::Handle add(VoiceKeyCombo combo, std::uint32_t number) {
    auto registration = service.add(combo, {7, number});
    EXPECT_EQ(registration.status, 0);
    return registration.handle.value_or(0);
  }

  std::size_t count(const Event& event) const {
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
  }

  bool waitFor(const std::function<bool()>& done) {
    return settle(loop, done, std::chrono::seconds(10));
  }

  std::shared_ptr<VoiceHotKey> counted(int& downs, int& ups) {
    auto key = VoiceHotKey::make(service);
    key->onDown = [&downs] { ++downs; };
    key->onUp = [&ups] { ++ups; };
    keys.push_back(key);
    return key;
  }

  std::unique_ptr<Child> otherClientGrabs(const std::string& keysym, unsigned modifiers,
                                          const std::string& expected = "grabbed") {
    auto child = std::make_unique<Child>(
        EARSHOT_GRAB_CHORD, std::vector<std::string>{keysym, std::to_string(modifiers)},
        std::map<std::string, std::string>{{"DISPLAY", server.display()}});
    EXPECT_EQ(child->readLine(), expected);
    return child;
  }

  // Makes the server repeat a held key soon and fast, so that a short hold repeats many times.
  void repeatSoon() {
    Display* display = XOpenDisplay(server.display().c_str());
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(XkbSetAutoRepeatRate(display, XkbUseCoreKbd, 50, 10));
    XSync(display, False);
    XCloseDisplay(display);
  }

  XServer server;
  MainLoop loop;
  X11HotKeys service{loop, server.display()};
  std::vector<Event> events;
  std::vector<std::shared_ptr<VoiceHotKey>> keys;
};

}  // namespace

TEST_F(X11, PressAndReleaseReachTheSinkOnTheLoopThread) {
  installRecorder();
  add(VoiceKeyCombo::optionSpace, 1);
  add(VoiceKeyCombo::controlOptionSpace, 2);
  xdotool({"keydown", "ctrl+alt+space", "keyup", "space", "keyup", "alt", "keyup", "ctrl"});
  ASSERT_TRUE(waitFor([&] { return count({2, false}) == 1; }));
  // A release matches by key alone: every registration of the key hears it.
  EXPECT_EQ(events, (std::vector<Event>{{2, true}, {1, false}, {2, false}}));
}

TEST_F(X11, OnePressAndOneReleaseWhicheverKeyComesUpFirst) {
  int downs = 0, ups = 0;
  auto key = counted(downs, ups);
  key->registerCombo(VoiceKeyCombo::optionSpace);
  xdotool({"keydown", "alt+space", "keyup", "space", "keyup", "alt"});
  ASSERT_TRUE(waitFor([&] { return ups == 1; }));
  xdotool({"keydown", "alt+space", "keyup", "alt", "keyup", "space"});
  ASSERT_TRUE(waitFor([&] { return ups == 2; }));
  EXPECT_EQ(downs, 2);
}

TEST_F(X11, HoldingTheChordRepeatsPressesButNeverReleases) {
  repeatSoon();

  int downs = 0, ups = 0;
  auto key = counted(downs, ups);
  key->registerCombo(VoiceKeyCombo::optionSpace);
  xdotool({"keydown", "alt+space", "sleep", "0.4", "keyup", "space", "keyup", "alt"});
  ASSERT_TRUE(waitFor([&] { return ups == 1; }));
  EXPECT_EQ(downs, 1);
  EXPECT_EQ(ups, 1);
}

TEST_F(X11, RawRepeatsAreSeparatePressesWithOneRelease) {
  repeatSoon();

  installRecorder();
  add(VoiceKeyCombo::optionSpace, 1);
  xdotool({"keydown", "alt+space", "sleep", "0.4", "keyup", "space", "keyup", "alt"});
  ASSERT_TRUE(waitFor([&] { return count({1, false}) == 1; }));
  EXPECT_GT(count({1, true}), 1u);
  // No release before the last press.
  EXPECT_EQ(events.back(), (Event{1, false}));
}

TEST_F(X11, TheLockKeysDoNotHideAChord) {
  installRecorder();
  add(VoiceKeyCombo::controlOptionSpace, 1);
  xdotool({"key", "Num_Lock", "key", "Caps_Lock"});
  xdotool({"keydown", "ctrl+alt+space", "keyup", "space", "keyup", "alt", "keyup", "ctrl"});
  xdotool({"key", "Num_Lock", "key", "Caps_Lock"});
  xdotool({"keydown", "ctrl+alt+space", "keyup", "space", "keyup", "alt", "keyup", "ctrl"});
  ASSERT_TRUE(waitFor([&] { return count({1, false}) == 2; }));
  EXPECT_EQ(count({1, true}), 2u);
}

TEST_F(X11, OtherModifiersDoNotMatchAndARemovedChordIsSilent) {
  installRecorder();
  const auto option = add(VoiceKeyCombo::optionSpace, 1);
  add({49, VoiceKeyCombo::control}, 2);  // the barrier: when it is heard, the rest was too
  xdotool({"keydown", "alt+shift+space", "keyup", "space", "keyup", "shift", "keyup", "alt"});
  service.remove(option);
  xdotool({"keydown", "alt+space", "keyup", "space", "keyup", "alt"});
  xdotool({"key", "ctrl+space"});
  ASSERT_TRUE(waitFor([&] { return count({2, false}) == 1; }));
  EXPECT_EQ(count({1, true}), 0u);
}

TEST_F(X11, AChordAnotherClientHoldsIsTakenAndNothingOfItStaysGrabbed) {
  installRecorder();
  // The other client holds the chord only with Num Lock (Mod2) on.
  auto other = otherClientGrabs("space", (1 << 3) | (1 << 4));
  auto registration = service.add(VoiceKeyCombo::optionSpace, {7, 1});
  EXPECT_EQ(registration.status, HotKeyService::alreadyRegistered);
  EXPECT_FALSE(registration.handle);
  // The variants we had grabbed before the refusal were given back.
  auto plain = otherClientGrabs("space", 1 << 3);
  auto caps = otherClientGrabs("space", (1 << 3) | (1 << 1));

  int downs = 0, ups = 0;
  auto key = counted(downs, ups);
  try {
    key->registerCombo(VoiceKeyCombo::optionSpace);
    ADD_FAILURE() << "registered";
  } catch (const VoiceHotKey::Failure& failure) {
    EXPECT_EQ(failure, VoiceHotKey::Failure::taken());
  }
  // Another chord is still free.
  key->registerCombo(VoiceKeyCombo::controlOptionSpace);
}

TEST_F(X11, AChordThisProcessHoldsIsTakenUntilItIsRemoved) {
  installRecorder();
  const auto first = add(VoiceKeyCombo::optionSpace, 1);
  EXPECT_EQ(service.add(VoiceKeyCombo::optionSpace, {7, 2}).status,
            HotKeyService::alreadyRegistered);
  // Our grab is the server's too.
  otherClientGrabs("space", 1 << 3, "refused");
  service.remove(first);
  add(VoiceKeyCombo::optionSpace, 2);
  xdotool({"key", "alt+space"});
  ASSERT_TRUE(waitFor([&] { return count({2, false}) == 1; }));
  EXPECT_EQ(count({1, true}), 0u);
}

TEST_F(X11, AKeyUnregisteredInItsOwnOnDownHearsNoRelease) {
  int downs = 0, ups = 0;
  auto key = counted(downs, ups);
  key->onDown = [&downs, raw = key.get()] {
    ++downs;
    raw->unregister();
  };
  key->registerCombo(VoiceKeyCombo::optionSpace);
  int barrierDowns = 0, barrierUps = 0;
  counted(barrierDowns, barrierUps)->registerCombo({49, VoiceKeyCombo::control});
  xdotool({"keydown", "alt+space", "keyup", "space", "keyup", "alt"});
  xdotool({"key", "ctrl+space"});
  ASSERT_TRUE(waitFor([&] { return barrierUps == 1; }));
  EXPECT_EQ(downs, 1);
  EXPECT_EQ(ups, 0);
}

TEST_F(X11, TheCommonKeysAndModifiersCanAllBeRegistered) {
  installRecorder();
  for (std::uint32_t code : earshot::linux_platform::knownKeyCodes()) {
    // The test server's keyboard stops at F12.
    const auto keysym = earshot::linux_platform::keysymFor(code);
    if (*keysym >= XK_F13 && *keysym <= XK_F35) continue;
    for (std::uint32_t modifiers : {0x0000, 0x0100, 0x0200, 0x0800, 0x1000, 0x1B00}) {
      auto registration = service.add({code, modifiers}, {7, code});
      ASSERT_EQ(registration.status, 0) << code << " " << modifiers;
      service.remove(*registration.handle);
    }
  }
  EXPECT_EQ(service.add({10, 0}, {7, 1}).status, X11HotKeys::unknownKey);
  EXPECT_EQ(service.add({1000, 0}, {7, 1}).status, X11HotKeys::unknownKey);
}

TEST_F(X11, KeyStateFollowsTheKeyboard) {
  EXPECT_FALSE(service.isKeyDown(49));
  xdotool({"keydown", "space"});
  EXPECT_TRUE(waitFor([&] { return service.isKeyDown(49); }));
  EXPECT_FALSE(service.isKeyDown(53));
  xdotool({"keyup", "space", "keydown", "Escape"});
  EXPECT_TRUE(waitFor([&] { return !service.isKeyDown(49) && service.isKeyDown(53); }));
  xdotool({"keyup", "Escape"});
  EXPECT_TRUE(waitFor([&] { return !service.isKeyDown(53); }));
  EXPECT_FALSE(service.isKeyDown(10));  // no such key here
}

extern "C" long earshotThreadsCreated();

// The watchdog reads the key state every 0.15 s while a key is held; each read is a few bounded
// runs of requests, none of which may cost a thread.
TEST_F(X11, ReadingTheKeyStateCreatesNoThread) {
  EXPECT_FALSE(service.isKeyDown(49));  // connected, and the deadlines' watcher started
  xdotool({"keydown", "space"});
  const long before = earshotThreadsCreated();
  for (int read = 0; read < 20; ++read) EXPECT_TRUE(service.isKeyDown(49));
  EXPECT_EQ(earshotThreadsCreated() - before, 0);
  xdotool({"keyup", "space"});
}

TEST_F(X11, ChordsFollowTheirKeysWhenTheLayoutChanges) {
  installRecorder();
  // On a German layout Z sits where Y is on an American one.
  add({6, VoiceKeyCombo::control}, 1);
  add({16, VoiceKeyCombo::control}, 2);
  for (const char* layout : {"de", "us"}) {
    SCOPED_TRACE(layout);
    earshot::testing::RunOptions options;
    auto result = earshot::testing::run("/usr/bin/setxkbmap",
                                        {"-display", server.display(), "-layout", layout}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    // The server tells every client of the new mapping; the loop takes the news in.
    settle(
        loop, [] { return false; }, std::chrono::milliseconds(300));
    events.clear();
    xdotool({"key", "ctrl+z", "key", "ctrl+y"});
    ASSERT_TRUE(waitFor([&] { return count({2, false}) == 1; }));
    EXPECT_EQ(events, (std::vector<Event>{{1, true}, {1, false}, {2, true}, {2, false}}));
  }
}

TEST_F(X11, AKeyLetGoOnAKeyboardAnotherClientGrabsIsUp) {
  xdotool({"keydown", "space"});
  ASSERT_TRUE(waitFor([&] { return service.isKeyDown(49); }));
  // The core keyboard no longer hears from a grabbed keyboard and keeps the key down.
  earshot::testing::Child other(EARSHOT_GRAB_KEYBOARDS, {}, {{"DISPLAY", server.display()}});
  ASSERT_EQ(other.readLine(), "grabbed");
  xdotool({"keyup", "space"});
  EXPECT_TRUE(waitFor([&] { return !service.isKeyDown(49); }));
}

TEST(X11WithoutServer, NothingCanBeRegisteredAndNoKeyIsDown) {
  MainLoop loop;
  X11HotKeys service(loop, ":9999");
  EXPECT_EQ(service.add(VoiceKeyCombo::optionSpace, {7, 1}).status, X11HotKeys::noDisplay);
  EXPECT_EQ(service.install([](Identifier, bool) {}), X11HotKeys::noDisplay);
  EXPECT_FALSE(service.installed());
  EXPECT_FALSE(service.isKeyDown(49));

  auto key = VoiceHotKey::make(service);
  try {
    key->registerCombo(VoiceKeyCombo::optionSpace);
    ADD_FAILURE() << "registered";
  } catch (const VoiceHotKey::Failure& failure) {
    EXPECT_EQ(failure, VoiceHotKey::Failure::failed(X11HotKeys::noDisplay));
  }
}

TEST(X11ServerGone, TheProcessLivesOnAndRegistrationsFail) {
  MainLoop loop;
  auto server = std::make_unique<XServer>();
  ASSERT_TRUE(server->running());
  X11HotKeys service(loop, server->display());
  ASSERT_EQ(service.install([](Identifier, bool) {}), 0);
  ASSERT_EQ(service.add(VoiceKeyCombo::optionSpace, {7, 1}).status, 0);
  server.reset();
  // The loop sees the connection close; Xlib's own handler would end the process here.
  EXPECT_TRUE(settle(loop, [&] { return !service.installed(); }));
  EXPECT_NE(service.add(VoiceKeyCombo::controlOptionSpace, {7, 2}).status, 0);
  EXPECT_FALSE(service.isKeyDown(49));
  // No check of a reconnection here: a parallel test's Xvfb may already own the display number.
}

// The connection attempt given up on is answered once the server resumes, just before the server is
// ended: that late connection fails while Xlib is still opening it.
TEST_F(X11, AServerThatStopsAnsweringIsLostNotWaitedOn) {
  installRecorder();
  add(VoiceKeyCombo::optionSpace, 1);
  server.stop();
  // The grab's requests go unanswered: the connection is given up as lost.
  EXPECT_EQ(service.add(VoiceKeyCombo::controlOptionSpace, {7, 2}).status,
            X11HotKeys::connectionLost);
  // Reconnecting finds a display that does not answer.
  EXPECT_FALSE(service.isKeyDown(49));
  EXPECT_EQ(service.add(VoiceKeyCombo::controlOptionSpace, {7, 3}).status, X11HotKeys::noDisplay);
  server.resume();
}

TEST(X11HandshakeHangUp, AServerThatHangsUpWhileBeingOpenedIsNoDisplay) {
  HangUpXServer server;
  ASSERT_TRUE(server.running());
  MainLoop loop;
  X11HotKeys service(loop, server.display());
  // Xlib's own handling ends the process inside XOpenDisplay here.
  EXPECT_EQ(service.install([](Identifier, bool) {}), X11HotKeys::noDisplay);
  // Nothing of the failed attempt is left in the way of the next one.
  EXPECT_FALSE(service.isKeyDown(49));
  EXPECT_FALSE(service.installed());

  const char* previous = std::getenv("DISPLAY");
  const std::string saved = previous ? previous : "";
  setenv("DISPLAY", server.display().c_str(), 1);
  EXPECT_EQ(X11Windows::open(), nullptr);
  if (previous)
    setenv("DISPLAY", saved.c_str(), 1);
  else
    unsetenv("DISPLAY");
  // Each attempt got as far as the handshake, so each failed inside XOpenDisplay.
  EXPECT_EQ(server.answered(), 3);
}
