#include <gtest/gtest.h>

#include "support/Child.hpp"
#include "support/Process.hpp"
#include "support/XServer.hpp"

using earshot::testing::Child;
using earshot::testing::RunResult;
using earshot::testing::XServer;
using nlohmann::json;

namespace {

// X modifier masks, as the other client grabs them.
constexpr unsigned shiftMask = 1 << 0, controlMask = 1 << 2, mod1Mask = 1 << 3, mod2Mask = 1 << 4;

RunResult keys(const std::string& display, std::vector<std::string> arguments = {}) {
  earshot::testing::RunOptions options;
  options.environment["DISPLAY"] = display;
  options.timeout = std::chrono::seconds(20);
  arguments.insert(arguments.begin(), "--keys");
  return earshot::testing::run(EARSHOT_BINARY, arguments, options);
}

// The one "keys" event of a survey that ended well, and nothing else.
json rowsOf(const RunResult& result) {
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.err, "");
  auto events = result.events();
  if (events.size() != 1u || events[0].value("event", "") != "keys") {
    ADD_FAILURE() << result.out;
    return json::array();
  }
  EXPECT_EQ(events[0].size(), 2u) << result.out;
  return events[0]["keys"];
}

std::vector<bool> freeColumn(const json& rows) {
  std::vector<bool> free;
  for (const auto& row : rows) free.push_back(row.at("free").get<bool>());
  return free;
}

class Survey : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.running()); }

  std::unique_ptr<Child> grab(const std::string& keysym, unsigned modifiers) {
    auto child = std::make_unique<Child>(
        EARSHOT_GRAB_CHORD, std::vector<std::string>{keysym, std::to_string(modifiers)},
        std::map<std::string, std::string>{{"DISPLAY", server.display()}});
    EXPECT_EQ(child->readLine(), "grabbed");
    return child;
  }

  XServer server;
};

}  // namespace

TEST_F(Survey, EveryChordIsFreeOnAQuietDisplayWithPortugueseLabels) {
  EXPECT_EQ(rowsOf(keys(server.display())), json::parse(R"([
    {"name": "option-space", "key": "⌥ Espaço", "free": true},
    {"name": "control-option-space", "key": "⌃⌥ Espaço", "free": true},
    {"name": "control-shift-space", "key": "⌃⇧ Espaço", "free": true},
    {"name": "control-option-command-space", "key": "⌃⌥⌘ Espaço", "free": true}
  ])"));
}

TEST_F(Survey, EnglishLabelsWithLanguageEn) {
  json rows = rowsOf(keys(server.display(), {"--language", "en"}));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0]["key"], "⌥ Space");
  EXPECT_EQ(rows[1]["key"], "⌃⌥ Space");
  EXPECT_EQ(rows[2]["key"], "⌃⇧ Space");
  EXPECT_EQ(rows[3]["key"], "⌃⌥⌘ Space");
}

TEST_F(Survey, AChordAnotherClientHoldsIsNotFreeAndTheAnswerIsStable) {
  auto other = grab("space", controlMask | mod1Mask);
  const json first = rowsOf(keys(server.display()));
  EXPECT_EQ(freeColumn(first), (std::vector<bool>{true, false, true, true}));
  // Nothing of the first survey is left behind.
  EXPECT_EQ(rowsOf(keys(server.display())), first);
  other.reset();
  EXPECT_EQ(freeColumn(rowsOf(keys(server.display()))),
            (std::vector<bool>{true, true, true, true}));
}

TEST_F(Survey, AChordHeldElsewhereOnlyWithNumLockOnIsTaken) {
  // Num Lock is Mod2 on the test server.
  auto other = grab("space", controlMask | shiftMask | mod2Mask);
  EXPECT_EQ(freeColumn(rowsOf(keys(server.display()))),
            (std::vector<bool>{true, true, false, true}));
}

TEST(SurveyWithoutDisplay, EveryRowIsNotFreeAndTheStatusIsZero) {
  for (const std::string display : {"", ":9999"}) {
    const json rows = rowsOf(keys(display));
    ASSERT_EQ(rows.size(), 4u) << display;
    EXPECT_EQ(freeColumn(rows), (std::vector<bool>{false, false, false, false})) << display;
    EXPECT_EQ(rows[0]["name"], "option-space");
  }
}

TEST(SurveyCommand, AStoppedXServerLeavesEveryRowNotFree) {
  XServer server;
  ASSERT_TRUE(server.running());
  server.stop();
  EXPECT_EQ(freeColumn(rowsOf(keys(server.display()))),
            (std::vector<bool>{false, false, false, false}));
  server.resume();
}
