#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "async/MainLoop.hpp"
#include "catalog/Lookup.hpp"
#include "core/Language.hpp"
#include "platform/PlatformError.hpp"
#include "support/AppFixtures.hpp"

using earshot::MainLoop;
using earshot::PlatformError;
using namespace earshot::testing;

namespace {

// Catches the event lines of one test.
class Lines {
 public:
  Lines() {
    if (pipe2(fds_, O_NONBLOCK) != 0) return;
    saved_ = earshot::output().fd;
    earshot::output().fd = fds_[1];
  }
  ~Lines() {
    earshot::output().fd = saved_;
    close(fds_[0]);
    close(fds_[1]);
  }
  std::vector<nlohmann::json> take() {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fds_[0], buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<std::size_t>(got));
    std::vector<nlohmann::json> out;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      out.push_back(nlohmann::json::parse(text.substr(start, end - start)));
    }
    return out;
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = 1;
};

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
  MainLoop loop{MainLoop::Time::simulated};
  std::vector<int> exits;
  Lines lines;
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
