// The capture engine against a private PulseAudio daemon: start() to the first tap call (a new
// engine each time, its format read beforehand as a take does), and the CPU this process spends
// per second of captured audio.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "async/MainLoop.hpp"
#include "platform/linux/PulseCapture.hpp"
#include "support/PulseServer.hpp"

using Clock = std::chrono::steady_clock;
using namespace earshot;

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool waitFor(const std::atomic<bool>& flag, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!flag && Clock::now() < end) std::this_thread::sleep_for(std::chrono::microseconds(200));
  return flag;
}

}  // namespace

int main(int argc, char** argv) {
  const int starts = argc > 1 ? std::atoi(argv[1]) : 40;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  testing::PulseServer server({{"mic", 48000, 2}});
  if (!server.running()) {
    std::printf("capture start: no PulseAudio daemon\n");
    return 1;
  }
  for (const auto& [name, value] : server.environment()) setenv(name.c_str(), value.c_str(), 1);
  MainLoop loop;
  linux_platform::PulseCapture capture(loop);

  std::vector<double> latencies;
  for (int i = 0; i < starts; ++i) {
    auto engine = capture.makeEngine();
    const auto format = engine->outputFormat();
    std::atomic<bool> arrived{false};
    Clock::time_point firstAt;
    engine->installTap(2048, format, [&](const PcmBufferRef&, std::uint64_t) {
      if (!arrived) {
        firstAt = Clock::now();
        arrived = true;
      }
    });
    const auto startAt = Clock::now();
    engine->start();
    if (waitFor(arrived, std::chrono::seconds(5)))
      latencies.push_back(std::chrono::duration<double, std::milli>(firstAt - startAt).count());
    engine->stop();
    if (const char* idle = std::getenv("EARSHOT_BENCH_IDLE_MS"))
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(idle)));
  }
  if (latencies.empty()) {
    std::printf("capture start: no buffer arrived\n");
    return 1;
  }
  if (std::getenv("EARSHOT_BENCH_ALL"))
    for (double l : latencies) std::printf("%.1f ", l);
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) {
    return latencies[static_cast<std::size_t>(q * (latencies.size() - 1))];
  };
  std::printf(
      "start() to the first 2048-frame buffer at 48 kHz stereo (42.7 ms of audio), %zu starts:\n",
      latencies.size());
  std::printf("  median %.1f ms   p90 %.1f ms   min %.1f ms   max %.1f ms\n", at(0.5), at(0.9),
              latencies.front(), latencies.back());

  auto engine = capture.makeEngine();
  const auto format = engine->outputFormat();
  std::atomic<std::uint64_t> frames{0};
  engine->installTap(2048, format, [&](const PcmBufferRef& buffer, std::uint64_t) {
    frames += buffer->frameLength();
  });
  engine->start();
  const double cpuBefore = cpuSeconds();
  const auto wallBefore = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = cpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  engine->stop();
  const double audio = static_cast<double>(frames) / format.sampleRate;
  std::printf(
      "capturing %.1f s (%.1f s of audio delivered): %.2f ms CPU per second of audio "
      "(%.3f%% of one core; this process only)\n",
      wall, audio, 1000 * cpu / audio, 100 * cpu / wall);
  return 0;
}
