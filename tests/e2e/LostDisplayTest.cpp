// The X display going away under the listening mode: the key goes with it, the host is told, and
// a "key" command takes it again once the display answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/LiveProcess.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"
#include "support/XServer.hpp"

using namespace earshot::testing;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

TEST(LostDisplay, IsToldEndsTheHoldAndTheKeyIsTakenAgainOnAKeyCommand) {
  TemporaryFolder folder;
  // Far from the numbers other tests' servers take, since this one's is freed for a moment.
  XServer x(400 + getpid() % 500);
  PulseServer pulse;
  ASSERT_TRUE(x.running());
  ASSERT_TRUE(pulse.running());
  auto environment = pulse.environment();
  environment["DISPLAY"] = x.display();
  {
    LiveProcess listener(EARSHOT_BINARY, {"--language", "en"}, environment, folder.file("stderr"));
    ASSERT_EQ(listener.next().value("event", ""), "ready");
    RunOptions options;
    options.environment["DISPLAY"] = x.display();
    ASSERT_EQ(run(programPath("xdotool"), {"keydown", "alt+space"}, options).status, 0);
    ASSERT_FALSE(listener.until("open").empty());

    x.end();
    const auto events = listener.until("error", 10s);
    ASSERT_FALSE(events.empty());
    const auto names = milestonesOf(events);
    EXPECT_EQ(names, (std::vector<std::string>{"up", "error"})) << json(events).dump();
    EXPECT_EQ(
        events.back(),
        (json{{"event", "error"}, {"reason", "key-lost"}, {"detail", "the X display went away"}}));
    EXPECT_EQ(listener.until("final").back().value("id", 0), 1);

    // No key: nothing names one, and a "key" command without a display is told so.
    EXPECT_TRUE(listener.send("language en"));
    EXPECT_TRUE(listener.next(1500ms).is_null());
    EXPECT_TRUE(listener.send("key option-space"));
    EXPECT_EQ(listener.next().value("reason", ""), "key-taken");

    ASSERT_TRUE(x.restart());
    EXPECT_TRUE(listener.send("key option-space"));
    const json back = listener.next();
    EXPECT_EQ(back.value("event", ""), "ready") << back;
    EXPECT_EQ(back.value("name", ""), "option-space") << back;
    // And it is the key: a press on the new display is a hold.
    ASSERT_EQ(run(programPath("xdotool"), {"keydown", "alt+space"}, options).status, 0);
    ASSERT_EQ(run(programPath("xdotool"), {"keyup", "alt+space"}, options).status, 0);
    EXPECT_EQ(listener.until("down").back().value("id", 0), 2);
  }
  std::ifstream in(folder.file("stderr"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
}

}  // namespace
