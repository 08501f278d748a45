#include <gtest/gtest.h>

#include <memory>

#include "support/SimulatedLoop.hpp"
#include "timing/Race.hpp"

using namespace earshot;
using earshot::testing::SimulatedLoop;
using namespace std::chrono_literals;

namespace {

Co<std::string> textAfter(Duration span, std::string text) {
  co_await sleep(span);
  co_return text;
}

Co<void> idleFor(Duration span) {
  co_await sleep(span);
}

struct Outcome {
  int resumed = 0;
  std::string text;
  Duration at{};
};

Co<void> raceText(Activity<std::string> task, double within, std::function<std::string()> fallback,
                  std::shared_ptr<Outcome> outcome) {
  MainLoop& loop = co_await currentLoop();
  outcome->text = co_await firstOf(task, within, std::move(fallback));
  outcome->resumed++;
  outcome->at = loop.now().time_since_epoch();
}

Co<void> raceSettled(Activity<void> task, double within, std::shared_ptr<Outcome> outcome) {
  MainLoop& loop = co_await currentLoop();
  co_await settled(task, within);
  outcome->resumed++;
  outcome->at = loop.now().time_since_epoch();
}

// A value whose release can be observed.
struct Tracked {
  std::shared_ptr<int> alive = std::make_shared<int>(1);
};

Co<Tracked> trackedAfter(Duration span, std::weak_ptr<int>* watch) {
  co_await sleep(span);
  Tracked value;
  *watch = value.alive;
  co_return value;
}

Co<int> failAfter(Duration span) {
  co_await sleep(span);
  throw std::runtime_error("late or early failure");
}

template <class T>
struct Answered {
  int resumed = 0;
  std::optional<T> value;
  bool raised = false;
};

template <class T>
Co<void> raceAnswered(double within, std::function<Co<T>()> operation,
                      std::shared_ptr<Answered<T>> outcome) {
  try {
    outcome->value = co_await answered<T>(within, std::move(operation));
  } catch (const std::runtime_error&) {
    outcome->raised = true;
  }
  outcome->resumed++;
}

}  // namespace

TEST(FirstOf, TaskInTimeWinsAndTheFallbackNeverRuns) {
  SimulatedLoop loop;
  auto task = spawn(textAfter(1s, "hello"), loop);
  int fallbacks = 0;
  auto outcome = std::make_shared<Outcome>();
  spawn(raceText(
            task, 8.0, [&] { return ++fallbacks, std::string("late"); }, outcome),
        loop);
  loop.advance(1s);
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_EQ(outcome->text, "hello");
  EXPECT_EQ(outcome->at, 1s);
  loop.advance(20s);  // the timer wakes at 8 s and finds the race done
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_EQ(fallbacks, 0);
}

TEST(FirstOf, DeadlineRunsTheFallbackOnceWithTheStateAtTheDeadline) {
  SimulatedLoop loop;
  auto never = spawn(textAfter(1000s, "never"), loop);
  std::string transcript = "he";
  int fallbacks = 0;
  auto outcome = std::make_shared<Outcome>();
  spawn(raceText(
            never, 8.0, [&] { return ++fallbacks, transcript; }, outcome),
        loop);
  loop.advance(3s);
  transcript = "hello wor";  // grows after the call, before the deadline
  loop.advance(5s);
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_EQ(outcome->text, "hello wor");
  EXPECT_EQ(outcome->at, 8s);
  // The task is neither cancelled nor awaited further: it still ends by itself.
  loop.advance(1000s);
  EXPECT_TRUE(never.finished());
  EXPECT_EQ(never.result(), "never");
  EXPECT_EQ(fallbacks, 1);
  EXPECT_EQ(outcome->resumed, 1);
}

TEST(FirstOf, TaskEndingAtTheDeadlineStillResumesOnce) {
  SimulatedLoop loop;
  auto task = spawn(textAfter(4s, "tie"), loop);
  auto outcome = std::make_shared<Outcome>();
  spawn(raceText(
            task, 4.0, [] { return std::string(); }, outcome),
        loop);
  loop.advance(10s);
  EXPECT_EQ(outcome->resumed, 1);
}

TEST(FirstOf, AFailedTaskCountsAsEndedWithNoText) {
  SimulatedLoop loop;
  Completion<std::string> source(loop);
  auto task = spawn(
      [](Completion<std::string> s) -> Co<std::string> { co_return co_await s; }(source), loop);
  auto outcome = std::make_shared<Outcome>();
  outcome->text = "unset";
  spawn(raceText(
            task, 4.0, [] { return std::string("fallback"); }, outcome),
        loop);
  source.fail(std::make_exception_ptr(std::runtime_error("x")));
  loop.advance(1s);
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_EQ(outcome->text, "");
}

TEST(Settled, ResumesAtTheEarlierOfTaskAndDeadline) {
  SimulatedLoop loop;
  auto quick = spawn(idleFor(1s), loop);
  auto slow = spawn(idleFor(100s), loop);
  auto first = std::make_shared<Outcome>();
  auto second = std::make_shared<Outcome>();
  spawn(raceSettled(quick, 4.0, first), loop);
  spawn(raceSettled(slow, 4.0, second), loop);
  loop.advance(200s);
  EXPECT_EQ(first->resumed, 1);
  EXPECT_EQ(first->at, 1s);
  EXPECT_EQ(second->resumed, 1);
  EXPECT_EQ(second->at, 4s);
  EXPECT_TRUE(slow.finished());  // kept running after the timeout
}

TEST(Settled, AlreadyFinishedTaskResumesWithoutWaiting) {
  SimulatedLoop loop;
  auto done = spawn(idleFor(0s), loop);
  loop.runUntilIdle();
  auto outcome = std::make_shared<Outcome>();
  spawn(raceSettled(done, 4.0, outcome), loop);
  loop.runUntilIdle();
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_EQ(outcome->at, 0s);
}

TEST(Answered, ValueInTimeIsGiven) {
  SimulatedLoop loop;
  auto outcome = std::make_shared<Answered<std::string>>();
  spawn(raceAnswered<std::string>(
            6.0, [] { return textAfter(2s, "en_US"); }, outcome),
        loop);
  loop.advance(30s);
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_EQ(outcome->value, "en_US");
}

TEST(Answered, ErrorInTimeIsRaisedAndALateOneDropped) {
  SimulatedLoop loop;
  auto early = std::make_shared<Answered<int>>();
  auto late = std::make_shared<Answered<int>>();
  spawn(raceAnswered<int>(
            6.0, [] { return failAfter(1s); }, early),
        loop);
  spawn(raceAnswered<int>(
            6.0, [] { return failAfter(7s); }, late),
        loop);
  loop.advance(6s);
  EXPECT_EQ(early->resumed, 1);
  EXPECT_TRUE(early->raised);
  EXPECT_EQ(late->resumed, 1);
  EXPECT_FALSE(late->raised);
  EXPECT_FALSE(late->value);
  loop.advance(10s);  // the late failure arrives and is dropped
  EXPECT_EQ(late->resumed, 1);
  EXPECT_FALSE(late->raised);
}

TEST(Answered, LateValueIsReleasedNotDelivered) {
  SimulatedLoop loop;
  std::weak_ptr<int> watch;
  auto outcome = std::make_shared<Answered<Tracked>>();
  spawn(raceAnswered<Tracked>(
            6.0, [&watch] { return trackedAfter(9s, &watch); }, outcome),
        loop);
  loop.advance(6s);
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_FALSE(outcome->value);
  loop.advance(5s);
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_FALSE(outcome->value);
  EXPECT_TRUE(watch.expired());
}

TEST(Answered, CancellingTheCallerResumesItAtOnceAndLeavesTheOperationRunning) {
  SimulatedLoop loop;
  std::weak_ptr<int> watch;
  int operationsEnded = 0;
  auto outcome = std::make_shared<Answered<Tracked>>();
  auto caller = spawn(raceAnswered<Tracked>(
                          6.0,
                          [&]() -> Co<Tracked> {
                            auto value = co_await trackedAfter(2s, &watch);
                            ++operationsEnded;
                            co_return value;
                          },
                          outcome),
                      loop);
  loop.advance(1s);
  caller.cancel();
  loop.runUntilIdle();
  // The caller resumes with the timeout outcome at once, not after 6 s.
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_FALSE(outcome->value);
  // The operation is an independent activity: it runs to its end; its value is released.
  loop.advance(1s);
  EXPECT_EQ(operationsEnded, 1);
  EXPECT_EQ(outcome->resumed, 1);
  EXPECT_TRUE(watch.expired());
}

TEST(Seconds, TruncatesTowardZeroAndClampsTheOdd) {
  EXPECT_EQ(seconds(0.28), 280ms);
  EXPECT_EQ(seconds(1e-10), 0ns);
  EXPECT_EQ(seconds(-3), 0ns);
  EXPECT_EQ(seconds(std::numeric_limits<double>::quiet_NaN()), 0ns);
  EXPECT_EQ(seconds(std::numeric_limits<double>::infinity()), Duration::max());
}
