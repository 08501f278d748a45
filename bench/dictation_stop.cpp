// The dictation mode as a host sees it, on a private PulseAudio daemon: the time from writing
// "stop" to reading the "final" line, over a few synthesized sentences (one process each, the
// speech ended 0.6 s before "stop"), and the resident memory of the process after its take.
//   bench_dictation_stop <earshot binary> [rounds]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/LiveProcess.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"

using namespace earshot::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::vector<std::string> sentences{
    "open the calendar and play some music", "please call my sister tomorrow morning",
    "the weather is nice today", "turn off the lights in the kitchen", "start the terminal"};

// VmHWM and VmRSS of a running process, in kB; zero when unreadable.
std::pair<long, long> memoryOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  long hwm = 0, rss = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) hwm = std::atol(line.c_str() + 6);
    if (line.rfind("VmRSS:", 0) == 0) rss = std::atol(line.c_str() + 6);
  }
  return {hwm, rss};
}

struct Figures {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  double median() {
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  }
  double min() const { return *std::min_element(values.begin(), values.end()); }
  double max() const { return *std::max_element(values.begin(), values.end()); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_dictation_stop <earshot binary> [rounds]\n");
    return 2;
  }
  const std::string binary = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  TemporaryFolder folder;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    const std::string path = folder.file(std::to_string(i) + ".wav");
    RunOptions options;
    options.timeout = 20s;
    if (run(programPath("flite"), {"-voice", "slt", "-t", sentences[i], "-o", path}, options)
            .status != 0) {
      std::printf("dictation stop: flite failed\n");
      return 1;
    }
    files.push_back(path);
  }
  PulseServer server;
  if (!server.running()) {
    std::printf("dictation stop: no PulseAudio daemon\n");
    return 1;
  }

  Figures latency, hwm, rss;
  int failed = 0;
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      LiveProcess process(binary, {"--dictate", "--language", "en"}, server.environment(),
                          folder.file("stderr"));
      bool open = false;
      for (auto event = process.next(30s); !event.is_null(); event = process.next(30s))
        if ((open = event.value("event", "") == "open")) break;
      if (!open || !server.playThrough(files[i], "mic")) {
        ++failed;
        continue;
      }
      std::this_thread::sleep_for(600ms);
      // After the take has heard everything; the process ends as soon as "final" is out.
      const auto [peak, resident] = memoryOf(process.pid());
      const auto stopAt = Clock::now();
      process.send("stop");
      std::string text;
      bool final = false;
      for (auto event = process.next(15s); !event.is_null(); event = process.next(15s)) {
        if ((final = event.value("event", "") == "final")) {
          text = event.value("text", "");
          break;
        }
      }
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - stopAt).count();
      if (!final || process.waitFor(10s) != 0) {
        ++failed;
        continue;
      }
      latency.add(ms);
      hwm.add(peak / 1024.0);
      rss.add(resident / 1024.0);
      std::printf("  %6.1f ms  %5.1f MB resident (peak %5.1f MB)  \"%s\" -> \"%s\"\n", ms,
                  resident / 1024.0, peak / 1024.0, sentences[i].c_str(), text.c_str());
    }
  }
  if (latency.values.empty()) {
    std::printf("dictation stop: no take gave a final (%d failed)\n", failed);
    return 1;
  }
  // Peak of the whole life of the largest child reaped (every dictation process, and the
  // small tools beside them).
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf(
      "\"stop\" written to \"final\" read, %zu takes (%d failed): median %.1f ms, min %.1f ms,"
      " max %.1f ms\n",
      latency.values.size(), failed, latency.median(), latency.min(), latency.max());
  std::printf(
      "resident memory after the take: VmRSS median %.1f MB (%.1f-%.1f), VmHWM median %.1f"
      " MB (%.1f-%.1f); peak of a whole process %.1f MB\n",
      rss.median(), rss.min(), rss.max(), hwm.median(), hwm.min(), hwm.max(),
      children.ru_maxrss / 1024.0);
  return failed ? 1 : 0;
}
