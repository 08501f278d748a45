#include <gtest/gtest.h>
#include <unistd.h>

#include "async/MainLoop.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::settle;
using namespace std::chrono_literals;

TEST(Watch, UnwatchingFromInsideTheCallbackStopsItAndTheDescriptorMayClose) {
  MainLoop loop;
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  int calls = 0;
  loop.watchReadable(ends[0], [&] {
    ++calls;
    loop.unwatch(ends[0]);  // leaves the byte unread: a live watch would fire again at once
  });
  ASSERT_EQ(write(ends[1], "x", 1), 1);
  ASSERT_TRUE(settle(
      loop, [&] { return calls == 1; }, 5s));
  settle(
      loop, [] { return false; }, 50ms);
  EXPECT_EQ(calls, 1);

  // The owner closes it; a new descriptor may get the same number and be watched afresh.
  close(ends[0]);
  close(ends[1]);
  ASSERT_EQ(pipe(ends), 0);
  int later = 0;
  loop.watchReadable(ends[0], [&] {
    char c;
    if (read(ends[0], &c, 1) == 1) ++later;
  });
  ASSERT_EQ(write(ends[1], "y", 1), 1);
  EXPECT_TRUE(settle(
      loop, [&] { return later == 1; }, 5s));
  EXPECT_EQ(calls, 1);
  loop.unwatch(ends[0]);
  close(ends[0]);
  close(ends[1]);
}
