#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "dictation/Dictation.hpp"
#include "support/EventCapture.hpp"
#include "support/FakeCapture.hpp"
#include "support/FakePlatform.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::settle;
using earshot::testing::SimulatedLoop;
using namespace std::chrono_literals;
using earshot::testing::FakeAnalyzer;
using Json = nlohmann::json;

namespace {

class DictationPaths : public ::testing::Test {
 protected:
  void SetUp() override { spoken = Language::english; }
  void TearDown() override { spoken = Language::portuguese; }

  earshot::testing::FakePlatform fake;
  SimulatedLoop& loop = fake.loop;
  earshot::testing::EventCapture events;
  std::vector<int> exits;
  std::shared_ptr<FakeAnalyzer> analyzer = std::make_shared<FakeAnalyzer>();

  std::shared_ptr<Dictation> begin() {
    fake.speech.nextAnalyzer = analyzer;
    auto dictation =
        std::make_shared<Dictation>(fake.platform, earshot::testing::recordingSink(exits));
    dictation->start();
    return dictation;
  }
  // Event names in order, and the last payload.
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const auto& event : events.take()) {
      out.push_back(event["event"]);
      last = event;
    }
    return out;
  }
  Json last;
};

using Names = std::vector<std::string>;

TEST_F(DictationPaths, StopDeliversTheFinalTextAfterTheStopDelay) {
  analyzer->live = {{"dear", false}};
  analyzer->script = {{"Dear diary.", true}};
  auto dictation = begin();
  loop.runUntilIdle();
  fake.capture.latest()->feed(2);
  EXPECT_TRUE(settle(loop, [&] { return events.lines().size() >= 3; }));
  dictation->stop();
  dictation->stop();
  loop.advance(270ms);
  EXPECT_TRUE(exits.empty()) << "the take goes on for 0.28 s after stop";
  loop.advanceInSteps(1s);
  // The final result is a partial too, then the closing event.
  EXPECT_EQ(names(), (Names{"open", "level", "partial", "partial", "final"}));
  EXPECT_EQ(last["text"], "Dear diary.");
  EXPECT_EQ(exits, std::vector<int>{0});
}

TEST_F(DictationPaths, EveryEndGivesExactlyOneClosingEventAndStatusZero) {
  struct Row {
    const char* name;
    std::function<void(Dictation&, earshot::testing::FakePlatform&)> act;
    Names expected;
    Json text;
  };
  const std::vector<Row> rows = {
      {"cancel", [](Dictation& d, auto&) { d.cancel(); }, {"open", "cancelled"}, nullptr},
      {"cancel during the stop delay",
       [](Dictation& d, auto& f) {
         d.stop();
         f.loop.advance(100ms);
         d.cancel();
       },
       {"open", "cancelled"},
       nullptr},
      {"time limit",
       [](Dictation&, auto& f) { f.loop.advance(seconds(Dictation::timeLimit + 1)); },
       {"open", "cancelled"},
       nullptr},
      {"time limit while a stop is finishing",
       [](Dictation& d, auto& f) {
         f.loop.advance(seconds(Dictation::timeLimit - 0.1));
         d.stop();
         f.loop.advance(1s);
       },
       {"open", "cancelled"},
       nullptr},
  };
  for (const Row& row : rows) {
    earshot::testing::FakePlatform platform;
    earshot::testing::EventCapture capture;
    std::vector<int> statuses;
    auto slow = std::make_shared<FakeAnalyzer>();
    slow->neverFinish = true;
    platform.speech.nextAnalyzer = slow;
    auto dictation =
        std::make_shared<Dictation>(platform.platform, earshot::testing::recordingSink(statuses));
    dictation->start();
    platform.loop.runUntilIdle();
    row.act(*dictation, platform);
    platform.loop.runUntilIdle();
    Names got;
    for (const auto& event : capture.take()) got.push_back(event["event"]);
    EXPECT_EQ(got, row.expected) << row.name;
    EXPECT_EQ(statuses, std::vector<int>{0}) << row.name;
    dictation->cancel();
  }
}

TEST_F(DictationPaths, AStopBeforeTheTakeOpensFinishesItAtOnceOrGivesAnEmptyFinal) {
  // The take's readiness takes a while, so the stop comes first; `wanted` then says no.
  fake.speech.answerDelay = 0.5;
  auto dictation = begin();
  loop.runUntilIdle();
  dictation->stop();
  loop.advanceInSteps(2s);
  EXPECT_EQ(names(), (Names{"final"}));
  EXPECT_EQ(last["text"], "");
  EXPECT_EQ(exits, std::vector<int>{0});
}

TEST_F(DictationPaths, StartFailuresAreOneErrorWithTheirReason) {
  struct Row {
    CaptureService::Permission permission;
    std::set<std::string> locales;
    Json expected;
  };
  for (const Row& row : {
           Row{CaptureService::Permission::denied, {"en_US"}, {{"reason", "microphone-denied"}}},
           Row{CaptureService::Permission::authorized,
               {},
               {{"reason", "locale-unsupported"}, {"detail", "en_US"}}},
       }) {
    earshot::testing::FakePlatform platform;
    earshot::testing::EventCapture capture;
    std::vector<int> statuses;
    platform.capture.state = row.permission;
    platform.speech.supported = row.locales;
    auto dictation =
        std::make_shared<Dictation>(platform.platform, earshot::testing::recordingSink(statuses));
    dictation->start();
    platform.loop.runUntilIdle();
    auto got = capture.take();
    ASSERT_EQ(got.size(), 1u);
    Json expected = row.expected;
    expected["event"] = "error";
    EXPECT_EQ(got[0], expected);
    EXPECT_EQ(statuses, std::vector<int>{0});
  }
}

TEST_F(DictationPaths, AnUndecidedMicrophoneIsAnnouncedAndATakeWhoseAnalyzerNeverStartsIsAnError) {
  fake.capture.state = CaptureService::Permission::undetermined;
  analyzer->refuseStart = true;
  auto dictation = begin();
  loop.runUntilIdle();
  dictation->stop();
  loop.advanceInSteps(1s);
  EXPECT_EQ(names(), (Names{"asking", "open", "error"}));
  EXPECT_EQ(last["reason"], "failed");
  EXPECT_EQ(last["detail"], "the analyzer didn't start");
  EXPECT_EQ(fake.capture.prompts(), 1);
}

}  // namespace
