// The fake capture engine keeps the promise component tests rely on: once stop or removeTap has
// returned, its feeder never calls the tap again, even from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/FakeCapture.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using namespace earshot::testing;

namespace {

class FakeCaptureEnding : public ::testing::TestWithParam<bool> {};

TEST_P(FakeCaptureEnding, IsSynchronousWithAFeederThread) {
  const bool stopping = GetParam();
  SimulatedLoop loop;
  FakeCapture capture(loop);
  auto engine = std::static_pointer_cast<FakeCaptureEngine>(capture.makeEngine());
  std::atomic<int> calls{0};
  std::atomic<bool> inside{false};
  engine->installTap(2048, engine->outputFormat(), [&](const PcmBufferRef& buffer, std::uint64_t) {
    inside = true;
    EXPECT_EQ(buffer->frameLength(), 2048u);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    ++calls;
    inside = false;
  });
  engine->start();
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    while (!done) {
      engine->feed(1);
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  while (calls < 5) std::this_thread::yield();
  if (stopping)
    engine->stop();
  else
    engine->removeTap();
  EXPECT_FALSE(inside);
  const int seen = calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  done = true;
  feeder.join();
  EXPECT_EQ(calls, seen);
  EXPECT_EQ(engine->feed(1), 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, FakeCaptureEnding, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Stop" : "RemoveTap"; });

}  // namespace
