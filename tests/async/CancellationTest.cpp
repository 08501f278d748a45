#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "async/Co.hpp"
#include "async/Stream.hpp"
#include "support/SimulatedLoop.hpp"
#include "timing/Race.hpp"

using namespace earshot;
using earshot::testing::settle;
using earshot::testing::SimulatedLoop;
using namespace std::chrono_literals;

namespace {

Co<int> valueAfter(Duration span, int value) {
  co_await sleep(span);
  co_return value;
}

// What a waiter saw when it resumed.
struct Seen {
  bool resumed = false;
  bool threw = false;
  bool cancelledAfter = false;
  std::string text;
};

using Wait = std::function<Co<void>(std::shared_ptr<Seen>)>;

Co<void> watchWait(Wait wait, std::shared_ptr<Seen> seen) {
  try {
    co_await wait(seen);
  } catch (const Cancelled&) {
    seen->threw = true;
  }
  seen->resumed = true;
  seen->cancelledAfter = co_await cancelled();
}

struct WaitCase {
  const char* name;
  bool throws;
  std::string text;  // what a race gives, if anything
};

}  // namespace

// Every kind of wait, on work that would take 100 s, is woken at once by cancelling the waiter.
TEST(Cancellation, WakesEveryKindOfWaitAtOnce) {
  SimulatedLoop loop;
  auto slow = spawn(valueAfter(100s, 7), loop);
  auto slowText = spawn(
      []() -> Co<std::string> {
        co_await sleep(100s);
        co_return "late";
      }(),
      loop);
  Completion<int> never(loop);
  const std::vector<std::pair<WaitCase, Wait>> cases = {
      {{"activity value", true, ""}, [slow](auto) -> Co<void> { co_await slow; }},
      {{"activity completion", false, ""},
       [slow](auto) -> Co<void> { co_await slow.completion(); }},
      {{"completion value", true, ""}, [never](auto) -> Co<void> { co_await never; }},
      {{"completion resolution", false, ""},
       [never](auto) -> Co<void> { co_await never.completion(); }},
      {{"settled", false, ""}, [slow](auto) -> Co<void> { co_await settled(slow, 50.0); }},
      {{"answered", false, "absent"},
       [](auto seen) -> Co<void> {
         auto value = co_await answered<int>(50.0, [] { return valueAfter(100s, 1); });
         seen->text = value ? "present" : "absent";
       }},
      {{"firstOf", false, "fallback"},
       [slowText](auto seen) -> Co<void> {
         seen->text = co_await firstOf(slowText, 50.0, [] { return std::string("fallback"); });
       }},
  };
  for (const auto& [expected, wait] : cases) {
    SCOPED_TRACE(expected.name);
    auto seen = std::make_shared<Seen>();
    auto waiter = spawn(watchWait(wait, seen), loop);
    loop.advance(1s);
    ASSERT_FALSE(seen->resumed);
    waiter.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(seen->resumed);
    EXPECT_EQ(seen->threw, expected.throws);
    EXPECT_TRUE(seen->cancelledAfter);
    EXPECT_EQ(seen->text, expected.text);
  }
  EXPECT_FALSE(slow.finished());  // nobody cancelled the work itself
}

TEST(Cancellation, AFinishedValueIsStillDeliveredAndALaterWaitEndsAtOnce) {
  SimulatedLoop loop;
  auto done = spawn(valueAfter(0s, 5), loop);
  auto slow = spawn(valueAfter(100s, 6), loop);
  loop.runUntilIdle();
  int got = 0;
  bool threw = false;
  auto waiter = spawn(
      [](Activity<int> done, Activity<int> slow, int& got, bool& threw) -> Co<void> {
        co_await sleep(10s);  // cancelled here
        got = co_await done;  // finished already: its value, no throw
        try {
          co_await slow;  // would suspend: ends at once
        } catch (const Cancelled&) {
          threw = true;
        }
      }(done, slow, got, threw),
      loop);
  loop.runUntilIdle();
  waiter.cancel();
  loop.runUntilIdle();
  EXPECT_TRUE(waiter.finished());
  EXPECT_EQ(got, 5);
  EXPECT_TRUE(threw);
}

// A value resolved in the same turn as the cancellation: the waiter resumes once, either way.
TEST(Cancellation, ResolutionAndCancellationTogetherResumeOnce) {
  SimulatedLoop loop;
  Completion<int> value(loop);
  int resumed = 0;
  auto waiter = spawn(
      [](Completion<int> value, int& resumed) -> Co<void> {
        co_await value.completion();
        ++resumed;
        co_await sleep(1s);
      }(value, resumed),
      loop);
  loop.runUntilIdle();
  value.resolve(3);
  waiter.cancel();
  loop.advance(2s);
  EXPECT_EQ(resumed, 1);
  EXPECT_TRUE(waiter.finished());
}

TEST(Cancellation, ReachesBackgroundWorkAndAThreadBlockedInPop) {
  MainLoop loop;
  AsyncStream<int> stream;
  stream.yield(1);
  auto reader = onBackground(
      [stream](std::stop_token stop) mutable {
        int seen = 0;
        while (auto item = stream.pop(stop)) seen += *item;
        return seen;
      },
      loop);
  auto polling = onBackground(
      [](std::stop_token stop) {
        while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
        return true;
      },
      loop);
  ASSERT_FALSE(settle(
      loop, [&] { return reader.finished(); }, 50ms));
  reader.cancel();
  polling.cancel();
  ASSERT_TRUE(settle(loop, [&] { return reader.finished() && polling.finished(); }));
  EXPECT_EQ(reader.result(), 1);
  EXPECT_TRUE(polling.result());
}

TEST(Loop, DropsErrorsOfCallbacksSilentlyAndKeepsServing) {
  const std::vector<std::pair<const char*, std::function<void(MainLoop&)>>> throwers = {
      {"posted", [](MainLoop& loop) { loop.post([] { throw std::runtime_error("posted"); }); }},
      {"timer", [](MainLoop& loop) { loop.after(1ms, [] { throw std::runtime_error("timer"); }); }},
      {"repeating timer",
       [](MainLoop& loop) {
         auto ticks = std::make_shared<int>(0);
         loop.every(1ms, [ticks] {
           if (++*ticks == 1) throw 42;  // not even an std::exception
         });
       }},
  };
  for (const auto& [name, arm] : throwers) {
    for (bool simulated : {false, true}) {
      SCOPED_TRACE(name);
      SimulatedLoop virtualLoop;
      MainLoop realLoop;
      MainLoop& loop = simulated ? virtualLoop : realLoop;
      arm(loop);
      bool after = false;
      loop.after(5ms, [&] { after = true; });
      if (simulated)
        virtualLoop.advance(5ms);
      else
        ASSERT_TRUE(settle(loop, [&] { return after; }));
      EXPECT_TRUE(after);
      EXPECT_GE(loop.droppedErrors(), 1u);
    }
  }
}

TEST(Loop, RunSurvivesAThrowingWatchCallback) {
  MainLoop loop;
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  int calls = 0;
  loop.watchReadable(ends[0], [&] {
    char c;
    if (read(ends[0], &c, 1) == 1) ++calls;
    throw std::runtime_error("watch");
  });
  ASSERT_EQ(write(ends[1], "ab", 2), 2);
  loop.every(1ms, [&] {
    if (calls == 2) loop.stop();
  });
  loop.run();  // returns by stop(), not by an escaping exception
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(loop.droppedErrors(), 2u);
  loop.unwatch(ends[0]);
  close(ends[0]);
  close(ends[1]);
}

TEST(Loop, ARealTimeStallFiresARepeatingTimerOnceThenKeepsTheGrid) {
  MainLoop loop;
  int ticks = 0;
  int ticksSeenByFirstTurn = -1;
  loop.every(20ms, [&] {
    if (++ticks == 1) loop.post([&] { ticksSeenByFirstTurn = ticks; });
  });
  std::this_thread::sleep_for(200ms);  // the loop is held up past ten ticks
  ASSERT_TRUE(settle(loop, [&] { return ticksSeenByFirstTurn >= 0; }));
  EXPECT_EQ(ticksSeenByFirstTurn, 1);  // a burst would have fired ten before anything else ran
  EXPECT_TRUE(settle(loop, [&] { return ticks >= 3; }));
}

TEST(Loop, VirtualTimeFiresEveryTickOfARepeatingTimerInOrder) {
  SimulatedLoop loop;
  std::vector<Duration> at;
  loop.every(150ms, [&] { at.push_back(loop.now().time_since_epoch()); });
  loop.advance(1s);
  EXPECT_EQ(at, (std::vector<Duration>{150ms, 300ms, 450ms, 600ms, 750ms, 900ms}));
}

TEST(Stream, ASecondWaitingReaderIsAnErrorAtOnce) {
  SimulatedLoop loop;
  const auto coroutineReader = [](AsyncStream<int> stream) -> Co<std::optional<int>> {
    co_return co_await stream.next();
  };
  {
    SCOPED_TRACE("two coroutines");
    AsyncStream<int> stream;
    auto first = spawn(coroutineReader(stream), loop);
    auto second = spawn(coroutineReader(stream), loop);
    loop.runUntilIdle();
    ASSERT_TRUE(second.finished());
    EXPECT_THROW(second.result(), std::logic_error);
    stream.yield(4);  // the first reader was not lost
    loop.runUntilIdle();
    EXPECT_EQ(first.result(), 4);
  }
  {
    SCOPED_TRACE("a thread, then a coroutine");
    AsyncStream<int> stream;
    std::atomic<bool> got{false};
    std::thread reader([&] { got = stream.pop().has_value(); });
    while (!stream.readerWaiting()) std::this_thread::yield();
    auto late = spawn(coroutineReader(stream), loop);
    loop.runUntilIdle();
    ASSERT_TRUE(late.finished());
    EXPECT_THROW(late.result(), std::logic_error);
    stream.yield(1);
    reader.join();
    EXPECT_TRUE(got);
  }
  {
    SCOPED_TRACE("a coroutine, then a thread");
    AsyncStream<int> stream;
    auto first = spawn(coroutineReader(stream), loop);
    loop.runUntilIdle();
    EXPECT_THROW(stream.pop(), std::logic_error);
    stream.yield(2);
    loop.runUntilIdle();
    EXPECT_EQ(first.result(), 2);
  }
}

// A fake that answers in microseconds of real time beats a 4 s virtual deadline, however far the
// test advances in one step.
TEST(VirtualTime, BusyBackgroundWorkFinishesBeforeTheClockMoves) {
  SimulatedLoop loop;
  auto fake = onBackground(
      [] {
        std::this_thread::sleep_for(20ms);
        return std::string("words");
      },
      loop);
  std::string text;
  spawn(
      [](Activity<std::string> fake, std::string& text) -> Co<void> {
        text = co_await firstOf(fake, 4.0, [] { return std::string("deadline"); });
      }(fake, text),
      loop);
  loop.advance(10s);
  EXPECT_EQ(text, "words");
}

// A background reader parked in a stream wait does not hold up virtual time, and its answer to
// each element lands before the clock moves on.
TEST(VirtualTime, AParkedReaderIsWaitedForOnlyOnceWoken) {
  SimulatedLoop loop;
  AsyncStream<int> input;
  AsyncStream<int> output;
  auto reader = onBackground(
      [input, output](std::stop_token stop) mutable {
        while (auto item = input.pop(stop)) {
          std::this_thread::sleep_for(5ms);
          output.yield(*item * 10);
        }
        output.finish();
      },
      loop);
  std::vector<int> seen;
  for (int i = 1; i <= 3; ++i) {
    loop.after(1s * i, [&input, i] { input.yield(i); });
  }
  loop.advance(1500ms);
  while (auto item = output.tryPop()) seen.push_back(*item);
  EXPECT_EQ(seen, (std::vector<int>{10}));
  loop.advance(2s);
  while (auto item = output.tryPop()) seen.push_back(*item);
  EXPECT_EQ(seen, (std::vector<int>{10, 20, 30}));
  reader.cancel();
  ASSERT_TRUE(settle(loop, [&] { return reader.finished(); }));
}

// Likewise a background writer waiting for room: the reader that makes room marks it busy, so
// its next element is in before the clock moves on.
TEST(VirtualTime, AWriterWaitingForRoomIsWaitedForOnlyOnceWoken) {
  SimulatedLoop loop;
  AsyncStream<int> stream(Buffering::bounded(1));
  auto writer = onBackground(
      [stream]() mutable {
        for (int i = 1; i <= 3; ++i) {
          std::this_thread::sleep_for(5ms);
          stream.yield(i);
        }
        stream.finish();
      },
      loop);
  std::vector<int> seen;
  for (int i = 1; i <= 3; ++i) {
    loop.after(1s * i, [&] {
      if (auto item = stream.tryPop()) seen.push_back(*item);
    });
  }
  loop.advance(1500ms);
  EXPECT_EQ(seen, (std::vector<int>{1}));
  EXPECT_EQ(stream.size(), 1u);  // 2 is in, 3 waits
  EXPECT_TRUE(stream.writerWaiting());
  loop.advance(2s);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  ASSERT_TRUE(settle(loop, [&] { return writer.finished(); }));
}

// A background task stuck for good costs a bounded real-time wait, never a hang.
TEST(VirtualTime, AStuckBackgroundTaskCannotHangAdvance) {
  SimulatedLoop loop;
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto stuck = onBackground(
      [release] {
        while (!*release) std::this_thread::sleep_for(1ms);
      },
      loop);
  bool fired = false;
  loop.after(4s, [&] { fired = true; });
  loop.advance(10s);
  EXPECT_TRUE(fired);
  EXPECT_FALSE(stuck.finished());
  *release = true;
  ASSERT_TRUE(settle(loop, [&] { return stuck.finished(); }));
}
