#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "async/Co.hpp"
#include "async/Stream.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::settle;
using earshot::testing::SimulatedLoop;
using namespace std::chrono_literals;

namespace {

Co<int> answerAfter(Duration span, int value) {
  co_await sleep(span);
  co_return value;
}

Co<int> addOne(Activity<int> other) {
  co_return co_await other + 1;
}

Co<void> fail() {
  co_await sleep(1s);
  throw std::runtime_error("boom");
}

Co<bool> sleepFor(Duration span) {
  co_return co_await sleep(span);
}

}  // namespace

TEST(Runtime, TimersFireInDeadlineOrderInVirtualTime) {
  SimulatedLoop loop;
  std::string order;
  loop.after(3s, [&] { order += "c"; });
  loop.after(1s, [&] { order += "a"; });
  auto cancelled = loop.after(2s, [&] { order += "x"; });
  loop.after(2s, [&] { order += "b"; });
  cancelled.cancel();
  loop.advance(2500ms);
  EXPECT_EQ(order, "ab");
  loop.advance(1s);
  EXPECT_EQ(order, "abc");
  EXPECT_EQ(loop.now().time_since_epoch(), 3500ms);
}

// Virtual time ignores the real clock: a due-in-1-ms timer waits, however long the loop is
// served, for the test to move time; and the clock stops at every deadline on the way.
TEST(Runtime, VirtualTimeStandsStillUntilTheTestMovesIt) {
  SimulatedLoop loop;
  std::vector<Duration> firedAt;
  loop.after(1ms, [&] { firedAt.push_back(loop.now().time_since_epoch()); });
  loop.after(4ms, [&] { firedAt.push_back(loop.now().time_since_epoch()); });
  EXPECT_FALSE(settle(
      loop, [&] { return !firedAt.empty(); }, 30ms));
  EXPECT_EQ(loop.now().time_since_epoch(), 0ms);
  loop.advance(1h);
  EXPECT_EQ(firedAt, (std::vector<Duration>{1ms, 4ms}));
  EXPECT_EQ(loop.nextDeadline(), std::nullopt);
}

TEST(Runtime, RepeatingTimerRunsUntilCancelled) {
  SimulatedLoop loop;
  int ticks = 0;
  Timer timer;
  timer = loop.every(150ms, [&] {
    if (++ticks == 4) timer.cancel();
  });
  loop.advance(10s);
  EXPECT_EQ(ticks, 4);
  EXPECT_FALSE(timer.active());
}

TEST(Runtime, ManyWaitersGetTheValueOfOneActivity) {
  SimulatedLoop loop;
  auto source = spawn(answerAfter(5s, 41), loop);
  auto first = spawn(addOne(source), loop);
  auto second = spawn(addOne(source), loop);
  loop.advance(4s);
  EXPECT_FALSE(first.finished());
  loop.advance(1s);
  ASSERT_TRUE(first.finished());
  ASSERT_TRUE(second.finished());
  EXPECT_EQ(first.result(), 42);
  EXPECT_EQ(second.result(), 42);
  // Awaiting an activity that already ended gives its value at once.
  auto late = spawn(addOne(source), loop);
  loop.runUntilIdle();
  EXPECT_EQ(late.result(), 42);
}

TEST(Runtime, ErrorsReachTheWaiters) {
  SimulatedLoop loop;
  auto failing = spawn(fail(), loop);
  loop.advance(1s);
  ASSERT_TRUE(failing.finished());
  EXPECT_THROW(failing.result(), std::runtime_error);
}

TEST(Runtime, CancellingWakesAPendingSleepAtOnce) {
  SimulatedLoop loop;
  auto sleeper = spawn(sleepFor(300s), loop);
  loop.advance(1s);
  sleeper.cancel();
  loop.runUntilIdle();
  ASSERT_TRUE(sleeper.finished());
  EXPECT_FALSE(sleeper.result());
  EXPECT_EQ(loop.now().time_since_epoch(), 1s);
  // A sleep begun after the cancellation returns at once too.
  auto untouched = spawn(sleepFor(2s), loop);
  loop.advance(2s);
  EXPECT_TRUE(untouched.result());
}

TEST(Runtime, BackgroundWorkCompletesOnTheLoop) {
  MainLoop loop;
  auto mainThread = std::this_thread::get_id();
  auto work = onBackground([&] { return std::this_thread::get_id() != mainThread; }, loop);
  std::thread::id resumedOn;
  work.onDone([&] { resumedOn = std::this_thread::get_id(); });
  ASSERT_TRUE(settle(loop, [&] { return resumedOn != std::thread::id{}; }));
  EXPECT_TRUE(work.result());
  EXPECT_EQ(resumedOn, mainThread);
}

namespace {
Co<std::vector<int>> drain(AsyncStream<int> stream) {
  std::vector<int> seen;
  while (auto item = co_await stream.next()) seen.push_back(*item);
  co_return seen;
}
}  // namespace

TEST(Stream, UnboundedKeepsEverythingInOrderAcrossThreads) {
  MainLoop loop;
  AsyncStream<int> stream;
  auto reader = spawn(drain(stream), loop);
  std::thread writer([stream]() mutable {
    for (int i = 0; i < 5000; ++i) stream.yield(i);
    stream.finish();
  });
  ASSERT_TRUE(settle(loop, [&] { return reader.finished(); }));
  writer.join();
  auto seen = reader.result();
  ASSERT_EQ(seen.size(), 5000u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(seen[i], i);
}

TEST(Stream, NewestPolicyDropsTheOldest) {
  SimulatedLoop loop;
  AsyncStream<int> stream(Buffering::newest(2));
  for (int i = 1; i <= 5; ++i) stream.yield(i);
  stream.finish();
  EXPECT_FALSE(stream.yield(6));
  auto reader = spawn(drain(stream), loop);
  loop.runUntilIdle();
  EXPECT_EQ(reader.result(), (std::vector<int>{4, 5}));
}

// However the reader takes them, a bounded stream never holds more than its limit: the writer
// waits for room, and every element still arrives in order.
TEST(Stream, BoundedMakesAThreadWriterWaitForRoom) {
  enum class Reader { pop, next, tryPop };
  for (const Reader how : {Reader::pop, Reader::next, Reader::tryPop}) {
    SCOPED_TRACE(static_cast<int>(how));
    MainLoop loop;
    AsyncStream<int> stream(Buffering::bounded(3));
    std::thread writer([stream]() mutable {
      for (int i = 0; i < 2000; ++i) stream.yield(i);
      stream.finish();
    });
    std::vector<int> seen;
    std::size_t most = 0;
    const auto take = [&](std::optional<int> item) {
      most = std::max(most, stream.size());
      if (item) seen.push_back(*item);
      return item.has_value();
    };
    if (how == Reader::pop) {
      while (take(stream.pop())) {
      }
    } else if (how == Reader::tryPop) {
      while (!stream.finished() || stream.size() > 0) take(stream.tryPop());
    } else {
      auto reader = spawn(drain(stream), loop);
      ASSERT_TRUE(settle(loop, [&] { return reader.finished(); }));
      seen = reader.result();
    }
    writer.join();
    EXPECT_LE(most, 3u);
    ASSERT_EQ(seen.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(seen[i], i);
  }
}

TEST(Stream, FinishingReleasesAWriterWaitingForRoom) {
  AsyncStream<int> stream(Buffering::bounded(1));
  stream.yield(1);
  std::atomic<int> second{-1};
  std::thread writer([stream, &second]() mutable { second = stream.yield(2); });
  while (!stream.writerWaiting()) std::this_thread::yield();
  stream.finish();
  writer.join();
  EXPECT_EQ(second, 0);  // dropped
  EXPECT_EQ(stream.pop(), 1);
  EXPECT_EQ(stream.pop(), std::nullopt);
}

TEST(Stream, CancellingTheReaderEndsItsWait) {
  SimulatedLoop loop;
  AsyncStream<int> stream;
  auto reader = spawn(drain(stream), loop);
  loop.runUntilIdle();
  reader.cancel();
  loop.runUntilIdle();
  ASSERT_TRUE(reader.finished());
  EXPECT_TRUE(reader.result().empty());
  // A later writer finds no waiter to wake.
  EXPECT_TRUE(stream.yield(1));
  loop.runUntilIdle();
}

TEST(Stream, ThreadReaderBlocksUntilAnElementOrTheEnd) {
  AsyncStream<std::string> stream(Buffering::newest(8));
  std::vector<std::string> got;
  std::thread reader([&] {
    while (auto item = stream.pop()) got.push_back(*item);
  });
  stream.yield("a");
  stream.yield("b");
  stream.finish();
  reader.join();
  EXPECT_EQ(got, (std::vector<std::string>{"a", "b"}));
}

TEST(Runtime, ActivitiesSpawnedFromOtherThreadsRunOnTheLoop) {
  MainLoop loop;
  const auto mainThread = std::this_thread::get_id();
  std::vector<std::optional<Activity<int>>> spawned(4);
  std::vector<std::thread> spawners;
  for (int i = 0; i < 4; ++i)
    spawners.emplace_back([&, i] { spawned[i] = spawn(answerAfter(Duration{0}, i), loop); });
  for (auto& t : spawners) t.join();
  ASSERT_TRUE(settle(loop, [&] {
    for (auto& a : spawned)
      if (!a->finished()) return false;
    return true;
  }));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(spawned[i]->result(), i);
  std::thread::id ranOn;
  loop.post([&] { ranOn = std::this_thread::get_id(); });
  settle(loop, [&] { return ranOn != std::thread::id{}; });
  EXPECT_EQ(ranOn, mainThread);
}
