#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "async/MainLoop.hpp"
#include "cli/Lookup.hpp"
#include "core/Language.hpp"
#include "platform/PlatformError.hpp"
#include "support/AppFixtures.hpp"
#include "support/EventCapture.hpp"
#include "support/SimulatedLoop.hpp"

using earshot::MainLoop;
using earshot::PlatformError;
using namespace earshot::testing;

namespace {

class Lookup : public ::testing::Test {
 protected:
  void SetUp() override {
    earshot::spoken = earshot::Language::portuguese;
    makeBundle(root.path() + "/sys/Applications", "Safari.app",
               PlistDictionary{{"CFBundleIdentifier", "safari"}});
  }

  std::optional<int> lookup(const std::string& text, bool exact, bool launch) {
    return earshot::lookup(workspace, loop, text, exact, launch,
                           [this](int status) { exits.push_back(status); });
  }

  TemporaryFolder root;
  FixtureWorkspace workspace{root.path() + "/sys", root.path() + "/home"};
  SimulatedLoop loop;
  std::vector<int> exits;
  EventCapture lines;
};

const nlohmann::json notFound{{"event", "error"}, {"reason", "not-found"}};

}  // namespace

TEST_F(Lookup, FindAnswersAtOnceAndLaunchesNothing) {
  EXPECT_EQ(lookup("safari", false, false), 0);
  EXPECT_EQ(
      lines.take(),
      (std::vector<nlohmann::json>{{{"event", "app"},
                                    {"name", "Safari"},
                                    {"path", root.path() + "/sys/Applications/Safari.app"}}}));
  EXPECT_EQ(lookup("safary", true, false), 1);  // only the loose tests would take it
  EXPECT_EQ(lines.take(), std::vector<nlohmann::json>{notFound});
  EXPECT_TRUE(workspace.opened.empty());
}

TEST_F(Lookup, NothingFoundLaunchesNothingAndSetsNoTimer) {
  EXPECT_EQ(lookup("xyz", false, true), 1);
  EXPECT_EQ(lines.take(), std::vector<nlohmann::json>{notFound});
  loop.advance(earshot::seconds(10));
  EXPECT_TRUE(exits.empty());
  EXPECT_TRUE(lines.take().empty());
  EXPECT_TRUE(workspace.opened.empty());
}

TEST_F(Lookup, LaunchAnswersOnceWithTheWorkspaceOutcome) {
  EXPECT_EQ(lookup("safari", false, true), std::nullopt);
  EXPECT_EQ(workspace.opened,
            (std::vector<std::string>{root.path() + "/sys/Applications/Safari.app"}));
  loop.advance(earshot::seconds(9));  // the timer fires too, but the answer is given
  EXPECT_EQ(exits, (std::vector<int>{0}));
  auto events = lines.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["event"], "app");
}

TEST_F(Lookup, LaunchErrorIsFailedWithItsText) {
  const auto error =
      std::make_exception_ptr(PlatformError("g-spawn-error-quark", 8, "Failed to execute"));
  const std::vector<nlohmann::json> failed{
      {{"event", "error"},
       {"reason", "failed"},
       {"detail", "Error Domain=g-spawn-error-quark Code=8 \"Failed to execute\""}}};
  workspace.launchError = error;
  EXPECT_EQ(lookup("safari", false, true), std::nullopt);
  EXPECT_EQ(exits, (std::vector<int>{1}));
  EXPECT_EQ(lines.take(), failed);

  // A launch request that throws instead of answering is the same error, answered once.
  exits.clear();
  workspace.launchThrows = error;
  EXPECT_EQ(lookup("safari", false, true), std::nullopt);
  loop.advance(earshot::seconds(9));
  EXPECT_EQ(exits, (std::vector<int>{1}));
  EXPECT_EQ(lines.take(), failed);
}

TEST_F(Lookup, SilentLaunchTimesOutAfterEightSeconds) {
  workspace.answerLaunch = false;
  EXPECT_EQ(lookup("safari", false, true), std::nullopt);
  loop.advance(earshot::seconds(7.9));
  EXPECT_TRUE(exits.empty());
  loop.advance(earshot::seconds(0.2));
  EXPECT_EQ(exits, (std::vector<int>{1}));
  EXPECT_EQ(lines.take(),
            (std::vector<nlohmann::json>{
                {{"event", "error"}, {"reason", "failed"}, {"detail", "timed out"}}}));
}
