// Push-to-talk on a real KDE desktop: KWin's virtual Wayland back end, xdg-desktop-portal with
// xdg-desktop-portal-kde, the chord pressed through KWin's fake-input protocol as a keyboard
// presses it, and the real binary with a private PulseAudio daemon. Run as an unprivileged user
// (KWin refuses root): started as root, the program runs itself again as "earshot-kwin".
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/KWinDesktop.hpp"
#include "support/LiveProcess.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"

using namespace earshot::testing;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string earshot = copiedProgram("EARSHOT_KWIN_EARSHOT", EARSHOT_BINARY);
const std::string fakeInput = copiedProgram("EARSHOT_KWIN_FAKE_INPUT", EARSHOT_FAKE_INPUT);

class KWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(desktop_.running()) << desktop_.failure();
    ASSERT_TRUE(pulse_.running());
  }
  void TearDown() override {
    if (!listener_) return;
    listener_.reset();
    std::ifstream in(folder_.file("stderr"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
  }
  LiveProcess& start() {
    auto environment = pulse_.environment();
    for (const auto& [name, value] : desktop_.environment()) environment[name] = value;
    listener_ = std::make_unique<LiveProcess>(earshot, std::vector<std::string>{"--language", "en"},
                                              environment, folder_.file("stderr"));
    return *listener_;
  }

  TemporaryFolder folder_;
  KWinDesktop desktop_{fakeInput};
  PulseServer pulse_;
  std::unique_ptr<LiveProcess> listener_;
};

struct Hold {
  const char* name;
  std::chrono::milliseconds length;
  bool repeats;  // long enough for KWin's key repeat to send more activations
};

TEST_F(KWinTest, ARealPressAndReleaseOfTheChordIsOneHold) {
  LiveProcess& listener = start();
  const json ready = listener.next(30s);
  EXPECT_EQ(ready.value("event", ""), "ready") << ready;
  EXPECT_EQ(ready.value("backend", ""), "portal") << ready;
  EXPECT_EQ(ready.value("name", ""), "option-space") << ready;
  // As KDE words the trigger it bound.
  EXPECT_EQ(ready.value("key", ""), "Alt+Space") << ready;
  int id = 0;
  for (const Hold hold : {Hold{"short", 600ms, false}, Hold{"with repeats", 2500ms, true}}) {
    SCOPED_TRACE(hold.name);
    ++id;
    ASSERT_TRUE(desktop_.press(altSpace));
    std::this_thread::sleep_for(hold.length);
    // Space first, as hands let go of a chord.
    ASSERT_TRUE(desktop_.release({altSpace[1], altSpace[0]}));
    const auto events = listener.until("final", 20s);
    std::vector<std::string> names;
    for (const auto& event : events) {
      const std::string name = event.value("event", "");
      if (name == "level" || name == "partial") continue;
      names.push_back(name);
      EXPECT_EQ(event.value("id", 0), id) << event;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"down", "open", "up", "final"}))
        << json(events).dump();
    // Nothing more comes of it.
    EXPECT_TRUE(listener.next(1s).is_null());
    const auto signals = desktop_.portalSignals();
    ASSERT_FALSE(signals.empty());
    EXPECT_EQ(signals.front(), "Activated");
    EXPECT_EQ(signals.back(), "Deactivated");
    EXPECT_EQ(std::count(signals.begin(), signals.end(), "Deactivated"), 1);
    EXPECT_EQ(std::count(signals.begin(), signals.end(), "Activated") > 1, hold.repeats)
        << signals.size() << " signals";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int status = runAsDesktopUser(
      argc, argv,
      {"EARSHOT_KWIN_EARSHOT=" EARSHOT_BINARY, "EARSHOT_KWIN_FAKE_INPUT=" EARSHOT_FAKE_INPUT});
  if (status >= 0) return status;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
