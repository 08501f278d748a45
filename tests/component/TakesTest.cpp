#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "speech/SpeechInput.hpp"
#include "speech/Take.hpp"
#include "support/FakeCapture.hpp"
#include "support/FakePlatform.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::settle;
using earshot::testing::SimulatedLoop;
using namespace std::chrono_literals;
using earshot::testing::FakeAnalyzer;
using earshot::testing::FakePlatform;
using TakeRef = SpeechInput::TakeRef;

namespace {

class Takes : public ::testing::Test {
 protected:
  FakePlatform fake;
  SimulatedLoop& loop = fake.loop;
  std::shared_ptr<SpeechInput> speech = std::make_shared<SpeechInput>(fake.platform);
  std::vector<std::pair<std::int64_t, std::string>> partials;

  void SetUp() override {
    speech->onPartial = [this](std::int64_t id, const std::string& text) {
      partials.emplace_back(id, text);
    };
  }

  Activity<TakeRef> start(
      std::int64_t id, std::function<bool()> wanted = [] { return true; }) {
    return spawn(speech->start(Language::english, id, std::move(wanted)), loop);
  }
  // Starts a take and lets it open.
  TakeRef open(std::int64_t id, std::shared_ptr<FakeAnalyzer> analyzer = nullptr) {
    fake.speech.nextAnalyzer = analyzer ? analyzer : std::make_shared<FakeAnalyzer>();
    auto opening = start(id);
    loop.runUntilIdle();
    EXPECT_TRUE(opening.finished());
    return opening.result();
  }
  Activity<std::string> finish(TakeRef take) { return spawn(speech->finish(take), loop); }
  // Waits in virtual time for an activity that ends on its own.
  template <class T>
  T outcome(const Activity<T>& activity, Duration limit = 1s) {
    for (Duration passed{0}; !activity.finished() && passed < limit; passed += 10ms)
      loop.advance(10ms);
    EXPECT_TRUE(activity.finished());
    return activity.result();
  }
  std::shared_ptr<earshot::testing::FakeCaptureEngine> engine() { return fake.capture.latest(); }

  static SpeechFailure::Case failureOf(const Activity<TakeRef>& opening) {
    try {
      opening.result();
    } catch (const SpeechFailure& failure) {
      return failure.kind();
    }
    ADD_FAILURE() << "the start did not fail with a speech failure";
    return SpeechFailure::Case::notRunning;
  }
};

TEST_F(Takes, ATakeCapturesStreamsWholeTextsAndFinishesWithTheFinalOne) {
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->live = {{"hel", false}, {"hello", false}, {"hello word", false}};
  analyzer->script = {{"Hello world.", true}};
  TakeRef take = open(7, analyzer);
  ASSERT_TRUE(speech->isRunning());
  EXPECT_EQ(take->id(), 7);
  EXPECT_TRUE(engine()->isRunning());
  EXPECT_EQ(engine()->tapSize(), 2048u);
  EXPECT_EQ(engine()->feed(3), 3);
  auto ending = finish(take);
  loop.runUntilIdle();
  // Capture stops before finish first waits.
  EXPECT_FALSE(engine()->isRunning());
  EXPECT_FALSE(speech->isRunning());
  EXPECT_EQ(engine()->feed(1), 0);
  EXPECT_EQ(outcome(ending), "Hello world.");
  EXPECT_EQ(partials, (std::vector<std::pair<std::int64_t, std::string>>{
                          {7, "hel"}, {7, "hello"}, {7, "hello word"}, {7, "Hello world."}}));
  EXPECT_FALSE(take->failed());
  EXPECT_GT(analyzer->inputs(), 0u);
}

TEST_F(Takes, RefusedStartsLeaveTheCurrentTakeCapturing) {
  TakeRef first = open(2);
  struct Row {
    std::int64_t id;
    bool wanted;
    SpeechFailure::Case expected;
  };
  for (const Row& row :
       {Row{2, true, SpeechFailure::Case::superseded},
        Row{1, true, SpeechFailure::Case::superseded}, Row{5, false, SpeechFailure::Case::letGo}}) {
    const int starts = fake.capture.counts().starts;
    auto opening = start(row.id, [&] { return row.wanted; });
    loop.runUntilIdle();
    ASSERT_TRUE(opening.finished());
    EXPECT_EQ(failureOf(opening), row.expected) << row.id;
    EXPECT_EQ(fake.capture.counts().starts, starts) << "the engine was touched for " << row.id;
    EXPECT_TRUE(speech->isRunning());
    EXPECT_TRUE(engine()->isRunning());
  }
  speech->cancel(first);
}

TEST_F(Takes, ANewerTakeReleasesTheCurrentOneWhoseTextCanStillBeCollected) {
  auto older = std::make_shared<FakeAnalyzer>();
  older->script = {{"first words", true}};
  TakeRef first = open(1, older);
  engine()->feed(2);
  auto newer = std::make_shared<FakeAnalyzer>();
  TakeRef second = open(2, newer);
  EXPECT_TRUE(speech->isRunning());
  EXPECT_EQ(outcome(finish(first)), "first words");
  // The newer analyzer started only after the older take had ended.
  EXPECT_TRUE(newer->started());
  EXPECT_EQ(outcome(finish(second)), "");
}

TEST_F(Takes, OpeningsAreSerialisedAndAWaitIsBoundedByFourSeconds) {
  fake.speech.answerDelay = 1.5;  // two questions: the first readiness takes 3 s
  auto first = start(1);
  auto second = start(2);
  loop.runUntilIdle();
  loop.advance(2900ms);
  EXPECT_FALSE(first.finished());
  EXPECT_FALSE(second.finished());
  loop.advance(200ms);
  EXPECT_TRUE(first.finished());
  // The second waited for the first, then asked readiness (now cached) and opened.
  loop.runUntilIdle();
  ASSERT_TRUE(second.finished());
  EXPECT_EQ(second.result()->id(), 2);
  speech->cancel(second.result());
  speech->cancel(first.result());
}

TEST_F(Takes, AReadinessQueryThatTakesSevenSecondsFailsAtSixAndFillsTheCache) {
  fake.speech.answerDelay = 3.5;  // two questions: 7 s
  auto opening = start(1);
  loop.runUntilIdle();
  loop.advance(6100ms);
  ASSERT_TRUE(opening.finished());
  EXPECT_EQ(failureOf(opening), SpeechFailure::Case::notRunning);
  loop.advance(1s);
  fake.speech.answerDelay = 0;
  const auto asked = fake.speech.calls().size();
  TakeRef take = open(2);
  EXPECT_EQ(fake.speech.calls().size(), asked + 1) << "only the analyzer is made";
  speech->cancel(take);
}

TEST_F(Takes, ADeniedMicrophoneFailsBeforeAnyReadinessQuery) {
  fake.capture.state = CaptureService::Permission::denied;
  auto opening = start(1);
  loop.runUntilIdle();
  EXPECT_EQ(failureOf(opening), SpeechFailure::Case::microphoneDenied);
  EXPECT_TRUE(fake.speech.calls().empty());
  EXPECT_EQ(fake.capture.prompts(), 0);
}

TEST_F(Takes, AnEngineThatFailsToStartLeavesItStaleAndTheNextStartRebuilds) {
  earshot::testing::FakeCapture::EngineScript failing;
  failing.failingStarts = -1;
  fake.capture.scripts.push_back(failing);
  auto opening = start(1);
  loop.runUntilIdle();
  ASSERT_TRUE(opening.finished());
  EXPECT_THROW(opening.result(), PlatformError);
  EXPECT_FALSE(speech->isRunning());
  const int made = fake.capture.enginesMade();
  TakeRef take = open(2);
  EXPECT_EQ(fake.capture.enginesMade(), made + 1);
  EXPECT_TRUE(engine()->isRunning());
  speech->cancel(take);
}

TEST_F(Takes, NoUsableFormatIsNoMicrophone) {
  earshot::testing::FakeCapture::EngineScript silent;
  silent.output = AudioFormat{0, 0};
  fake.capture.scripts = {silent, silent};
  auto opening = start(1);
  loop.runUntilIdle();
  EXPECT_EQ(failureOf(opening), SpeechFailure::Case::noMicrophone);
  EXPECT_FALSE(speech->isRunning());
}

TEST_F(Takes, FinishingTwiceGivesTheSameTextAndAStuckEndingGivesTheTextAtEightSeconds) {
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->live = {{"so far", false}};
  analyzer->neverFinish = true;
  TakeRef take = open(1, analyzer);
  engine()->feed(1);
  EXPECT_TRUE(settle(loop, [&] { return !partials.empty(); }));
  auto first = finish(take);
  auto second = finish(take);
  loop.runUntilIdle();
  loop.advance(7900ms);
  EXPECT_FALSE(first.finished());
  loop.advance(200ms);
  EXPECT_EQ(outcome(first), "so far");
  EXPECT_EQ(outcome(second), "so far");
  EXPECT_TRUE(analyzer->wasCancelled()) << "the analyzer outliving the deadline is stopped";
}

TEST_F(Takes, CancellingEndsEverythingAndAFinishAfterwardsIsEmpty) {
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->live = {{"thrown away", false}};
  TakeRef take = open(1, analyzer);
  engine()->feed(1);
  speech->cancel(take);
  EXPECT_FALSE(engine()->isRunning());
  EXPECT_FALSE(speech->isRunning());
  EXPECT_EQ(outcome(finish(take)), "");
  EXPECT_FALSE(take->failed());
}

TEST_F(Takes, ACancelDuringAFinishEndsItWithoutWaitingForTheDeadline) {
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->neverFinish = true;
  TakeRef take = open(1, analyzer);
  auto ending = finish(take);
  loop.advance(1s);
  speech->cancel(take);
  loop.advance(100ms);
  EXPECT_TRUE(ending.finished()) << "the cancelled ending answered at once";
  EXPECT_TRUE(analyzer->wasCancelled());
}

TEST_F(Takes, AnAnalyzerThatNeverStartsMarksTheTakeFailed) {
  struct Row {
    const char* name;
    bool refuseStart;
    bool fails;  // started, then failed (its decoder never came)
    const char* final;
    bool failed;
  };
  const Row rows[] = {{"start refused", true, false, "", true},
                      {"failed without a word", false, true, "", true},
                      {"failed after its words", false, true, "some words", false}};
  std::int64_t id = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto analyzer = std::make_shared<FakeAnalyzer>();
    analyzer->refuseStart = row.refuseStart;
    if (*row.final) analyzer->script = {{row.final, true}};
    if (row.fails) analyzer->failWith = std::make_exception_ptr(std::runtime_error("no decoder"));
    TakeRef take = open(++id, analyzer);
    EXPECT_EQ(outcome(finish(take)), row.final);
    EXPECT_EQ(take->failed(), row.failed);
  }
}

TEST_F(Takes, ADeviceBurstRebuildsTheIdleEngineOnceAndReleasesTheOldOneTwoSecondsLater) {
  speech->warmUp();
  speech->warmUp();
  EXPECT_EQ(fake.capture.listeners(), 1);
  const int made = fake.capture.enginesMade();
  for (int i = 0; i < 3; ++i) fake.capture.fireDefaultInputChanged();
  loop.advance(250ms);
  EXPECT_EQ(fake.capture.enginesMade(), made);
  loop.advance(100ms);
  EXPECT_EQ(fake.capture.enginesMade(), made + 1);
  EXPECT_NE(fake.capture.engine(made - 1), nullptr) << "the old engine is kept a while";
  loop.advance(2100ms);
  EXPECT_EQ(fake.capture.engine(made - 1), nullptr);
}

TEST_F(Takes, ACapturingTakeKeepsMovingToNewEnginesFurtherApartEachTime) {
  struct Row {
    Duration notYet;  // after the engine stopped: still on the stopped engine
    Duration moved;   // by then: on a new, running engine
  };
  // Three quick moves, then a growing pause up to about three seconds, for as long as the take
  // lasts: a sound server that is gone a long while is found again when it comes back.
  const std::vector<Row> rows{{200ms, 400ms},   {200ms, 400ms},   {200ms, 400ms},
                              {500ms, 700ms},   {1100ms, 1300ms}, {2300ms, 2500ms},
                              {3100ms, 3300ms}, {3100ms, 3300ms}};
  auto analyzer = std::make_shared<FakeAnalyzer>();
  std::string words;
  for (std::size_t i = 0; i <= rows.size(); ++i) {
    words += (i ? " w" : "w") + std::to_string(i);
    analyzer->live.push_back({words, false});
  }
  speech->warmUp();
  TakeRef take = open(1, analyzer);
  engine()->feed(1);
  for (std::size_t move = 0; move < rows.size(); ++move) {
    SCOPED_TRACE("move " + std::to_string(move + 1));
    auto before = engine();
    before->halt();
    fake.capture.fireConfigurationChanged(*before);
    loop.advance(rows[move].notYet);
    EXPECT_EQ(engine(), before);
    loop.advance(rows[move].moved - rows[move].notYet);
    ASSERT_NE(engine(), before);
    EXPECT_TRUE(engine()->isRunning());
    engine()->feed(1);
  }
  EXPECT_TRUE(settle(loop, [&] { return partials.size() == rows.size() + 1; }));
  ASSERT_FALSE(partials.empty());
  EXPECT_EQ(partials.back().second, words) << "one recognition across every engine";
  auto ending = finish(take);
  outcome(ending);
}

TEST_F(Takes, ARunningEngineKeepsItsTakeAndTheNextOpeningRebuilds) {
  speech->warmUp();
  TakeRef take = open(1);
  auto running = engine();
  fake.capture.fireDefaultInputChanged();
  loop.advance(400ms);
  EXPECT_EQ(engine(), running);
  EXPECT_TRUE(running->isRunning());
  const int made = fake.capture.enginesMade();
  TakeRef next = open(2);
  EXPECT_GE(fake.capture.enginesMade(), made + 1);
  speech->cancel(next);
  speech->cancel(take);
}

TEST_F(Takes, ConfigurationChangesOfAReplacedEngineAreIgnored) {
  speech->warmUp();
  TakeRef take = open(1);
  auto first = engine();
  speech->cancel(take);
  fake.capture.fireDefaultInputChanged();
  loop.advance(400ms);  // rebuilt: `first` is no longer the current engine
  const int made = fake.capture.enginesMade();
  fake.capture.fireConfigurationChanged(*first);
  loop.advance(400ms);
  EXPECT_EQ(fake.capture.enginesMade(), made);
}

// A vocabulary answered only when the test says so, as a slow catalog scan.
struct SlowVocabulary {
  std::promise<void> answer;
  std::shared_future<void> answered = answer.get_future().share();
  AppVocabulary words{{"open"}, {"the"}, {"firefox", "gimp"}};

  std::function<std::shared_ptr<const AppVocabulary>()> source() {
    return [answered = answered, words = words] {
      answered.wait();
      return std::make_shared<const AppVocabulary>(words);
    };
  }
};

std::size_t analyzersMade(const earshot::testing::FakeSpeechService& service) {
  std::size_t made = 0;
  for (const auto& call : service.calls()) made += call.starts_with("analyzer");
  return made;
}

TEST_F(Takes, ASlowVocabularyDelaysTheAnalyzerNotTheCapture) {
  SlowVocabulary vocabulary;
  speech->vocabulary = vocabulary.source();
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->script = {{"firefox", true}};
  TakeRef take = open(3, analyzer);
  EXPECT_TRUE(engine()->isRunning());
  EXPECT_EQ(engine()->feed(4), 4);
  EXPECT_EQ(analyzersMade(fake.speech), 0u);
  // Let go before the answer: what was captured still reaches the analyzer.
  auto ending = finish(take);
  loop.runUntilIdle();
  EXPECT_FALSE(engine()->isRunning());
  vocabulary.answer.set_value();
  EXPECT_EQ(outcome(ending), "firefox");
  ASSERT_EQ(fake.speech.analyzerModules.size(), 1u);
  EXPECT_EQ(fake.speech.analyzerModules.front().vocabulary, vocabulary.words);
  EXPECT_EQ(analyzer->inputs(), 4u);
  EXPECT_FALSE(take->failed());
}

TEST_F(Takes, ATakeCancelledBeforeItsVocabularyCameMakesNoAnalyzer) {
  SlowVocabulary vocabulary;
  speech->vocabulary = vocabulary.source();
  TakeRef take = open(4);
  engine()->feed(2);
  speech->cancel(take);
  vocabulary.answer.set_value();
  loop.advance(100ms);
  EXPECT_EQ(analyzersMade(fake.speech), 0u);
  // The next take is not held up by the one thrown away.
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->script = {{"gimp", true}};
  TakeRef next = open(5, analyzer);
  engine()->feed(1);
  EXPECT_EQ(outcome(finish(next)), "gimp");
  EXPECT_EQ(analyzersMade(fake.speech), 1u);
}

}  // namespace
