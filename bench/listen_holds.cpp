// The listening mode as a host sees it: the real binary under a private Xvfb and a private
// PulseAudio daemon, the chord pressed and released with XTest from here, a flite sentence played
// into the microphone during every other hold. Prints median / p90 of press to "down", "down" to
// the first "level" (a level comes with every captured buffer), "up" to "final", and the CPU the
// listener spends idle between holds.
//
//   bench_listen_holds [HOLDS [IDLE_SECONDS [RATE]]]    (defaults 50, 10 and 48000: the
//   microphone's rate, which sets how long a 2048-frame buffer takes to fill)
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ListenerProcess.hpp"
#include "support/Exec.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"
#include "support/XServer.hpp"

using nlohmann::json;
using namespace earshot::testing;
using namespace std::chrono_literals;

namespace {

// utime + stime of every thread of `pid`, in clock ticks.
long cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  // After the name: state is field 3, utime 14, stime 15.
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n == 14) utime = std::stol(field);
    if (n == 15) stime = std::stol(field);
  }
  return utime + stime;
}

// Nanoseconds on a CPU of every thread of `pid` (the scheduler's own count, finer than ticks).
long long runNanoseconds(pid_t pid) {
  long long total = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream in(task.path() / "schedstat");
    long long ran = 0;
    if (in >> ran) total += ran;
  }
  return total;
}

long residentKilobytes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// The last minute's load average of the machine: other work slows the recognizer down.
double loadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = -1;
  in >> load;
  return load;
}

double secondsOf(const std::string& wav) {
  SF_INFO info{};
  SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
  if (!file) return 0;
  sf_close(file);
  return info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : 0;
}

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// "median M   p90 P" of `values`, in milliseconds; "no values" when empty.
std::string spread(std::vector<double> values) {
  if (values.empty()) return "no values";
  std::sort(values.begin(), values.end());
  auto at = [&](double share) {
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
  };
  char text[160];
  std::snprintf(text, sizeof text, "median %.1f ms   p90 %.1f ms   (min %.1f, max %.1f, n=%zu)",
                at(0.5), at(0.9), values.front(), values.back(), values.size());
  return text;
}

bool isFor(const json& event, const char* name, std::int64_t id) {
  return event.value("event", "") == name && event.value("id", std::int64_t{-1}) == id;
}

}  // namespace

int main(int argc, char** argv) {
  const int holds = argc > 1 ? std::atoi(argv[1]) : 50;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
  const unsigned rate = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 48000;
  const std::string binary = EARSHOT_BINARY;

  TemporaryFolder folder;
  const std::vector<std::string> sentences{
      "open the calendar and play some music", "please call my sister tomorrow morning",
      "the weather is nice today", "turn off the lights in the kitchen",
      "send a message to the team"};
  std::vector<std::pair<std::string, double>> spoken;  // file, seconds
  for (std::size_t i = 0; i < sentences.size(); ++i) {
    const std::string wav = folder.file("sentence" + std::to_string(i) + ".wav");
    RunOptions options;
    options.timeout = 20s;
    if (run(programPath("flite"), {"-voice", "slt", "-t", sentences[i], "-o", wav}, options)
            .status == 0)
      spoken.emplace_back(wav, secondsOf(wav));
  }
  if (spoken.empty()) std::printf("(flite made no sentence: every hold is silent)\n");

  XServer x;
  PulseServer pulse({{"mic", rate, 2}});
  if (!x.running() || !pulse.running()) {
    std::printf("listening holds: no Xvfb or no PulseAudio daemon\n");
    return 1;
  }
  Display* sender = XOpenDisplay(x.display().c_str());
  if (!sender) return 1;
  const KeyCode alt = XKeysymToKeycode(sender, XK_Alt_L);
  const KeyCode space = XKeysymToKeycode(sender, XK_space);

  auto environment = pulse.environment();
  environment["DISPLAY"] = x.display();
  const std::string errors = folder.file("stderr");
  Listener listener(binary, environment, errors);
  auto ready = listener.until([](const json& e) { return e.value("event", "") != ""; }, 20s);
  if (!ready || ready->back().event.value("event", "") != "ready" ||
      ready->back().event.value("name", "") != "option-space") {
    std::printf("listening holds: no \"ready\" for option-space\n");
    return 1;
  }
  // Let the recognizer's preparation and the microphone's warm-up finish first.
  std::this_thread::sleep_for(2s);
  const long startKb = residentKilobytes(listener.pid());
  std::vector<std::pair<int, long>> afterHold;  // hold number, resident kilobytes after it

  std::vector<double> toDown, toOpen, toLevel, toFinalAll, toFinalSpeech, toFinalSilent;
  int withSpeech = 0, withWords = 0;
  std::string example;
  std::string slow;  // holds whose final came later than the goal, and the load then
  long idleTicks = -1;
  long long idleNanoseconds = -1;
  double idleWall = 0;
  std::size_t linesWhileIdle = 0;
  const double silentHold = 0.8;

  for (int i = 0; i < holds; ++i) {
    const bool speech = !spoken.empty() && i % 2 == 0;
    std::string wav;
    double length = 0;
    if (speech) std::tie(wav, length) = spoken[(i / 2) % spoken.size()];

    XTestFakeKeyEvent(sender, alt, True, CurrentTime);
    XFlush(sender);
    std::this_thread::sleep_for(20ms);
    const auto pressedAt = Clock::now();
    XTestFakeKeyEvent(sender, space, True, CurrentTime);
    XFlush(sender);
    auto opened = listener.until([](const json& e) { return e.value("event", "") == "down"; }, 5s);
    if (!opened) return 1;
    const auto id = opened->back().event.value("id", std::int64_t{-1});
    toDown.push_back(ms(opened->back().at - pressedAt));

    if (speech) pulse.play(wav, "mic");
    std::this_thread::sleep_for(std::chrono::duration<double>(speech ? length + 0.3 : silentHold));
    XTestFakeKeyEvent(sender, space, False, CurrentTime);
    XTestFakeKeyEvent(sender, alt, False, CurrentTime);
    XFlush(sender);

    auto rest = listener.until(
        [id](const json& e) {
          return isFor(e, "final", id) || isFor(e, "error", id) || isFor(e, "cancelled", id);
        },
        20s);
    if (!rest) return 1;
    pulse.stopPlaying();
    const Line& end = rest->back();
    if (end.event.value("event", "") != "final")
      std::printf("hold %lld ended with %s\n", static_cast<long long>(id),
                  end.event.dump().c_str());
    const Clock::time_point downAt = opened->back().at;
    std::optional<Clock::time_point> openAt, levelAt, upAt;
    for (const auto& line : *rest) {
      if (!openAt && isFor(line.event, "open", id)) openAt = line.at;
      if (!levelAt && isFor(line.event, "level", id)) levelAt = line.at;
      if (!upAt && isFor(line.event, "up", id)) upAt = line.at;
    }
    if (openAt) toOpen.push_back(ms(*openAt - downAt));
    if (levelAt) toLevel.push_back(ms(*levelAt - downAt));
    if (upAt && end.event.value("event", "") == "final") {
      toFinalAll.push_back(ms(end.at - *upAt));
      (speech ? toFinalSpeech : toFinalSilent).push_back(toFinalAll.back());
      if (toFinalAll.back() > 430) {
        char text[120];
        std::snprintf(text, sizeof text, " %lld%s %.0f ms (load %.2f);", static_cast<long long>(id),
                      speech ? " with speech" : "", toFinalAll.back(), loadAverage());
        slow += text;
      }
    }
    if (speech && end.event.value("event", "") == "final") {
      ++withSpeech;
      const std::string text = end.event.value("text", "");
      if (!text.empty()) {
        ++withWords;
        if (example.empty())
          example = "\"" + sentences[(i / 2) % sentences.size()] + "\" heard as \"" + text + "\"";
      }
    }

    if (i == 0 || i == holds / 2) afterHold.emplace_back(i + 1, residentKilobytes(listener.pid()));
    if (i == holds / 2) {
      // Between holds: nothing held, nothing capturing.
      std::this_thread::sleep_for(1s);
      const long ticksBefore = cpuTicks(listener.pid());
      const long long ranBefore = runNanoseconds(listener.pid());
      const auto wallBefore = Clock::now();
      std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
      idleTicks = cpuTicks(listener.pid()) - ticksBefore;
      idleNanoseconds = runNanoseconds(listener.pid()) - ranBefore;
      idleWall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
      while (listener.next(0ms)) ++linesWhileIdle;
    } else {
      std::this_thread::sleep_for(300ms);
    }
  }
  const long endKb = residentKilobytes(listener.pid());
  listener.send("quit");
  const int status = listener.exitStatus(10s);
  XCloseDisplay(sender);
  std::ifstream errorFile(errors);
  const std::string errorText((std::istreambuf_iterator<char>(errorFile)), {});

  std::printf(
      "listening mode, %d holds (%d with a flite sentence, the rest %.1f s of silence), "
      "private Xvfb and PulseAudio daemon, microphone at %u Hz stereo:\n",
      holds, withSpeech, silentHold, rate);
  auto row = [](const char* what, const std::vector<double>& values) {
    std::printf("  %-50s %s\n", what, spread(values).c_str());
  };
  row("XTest press flushed -> \"down\" read (goal < 5 ms)", toDown);
  row("\"down\" -> \"open\" read", toOpen);
  row("\"down\" -> first \"level\" read (goal < 50 ms)", toLevel);
  std::printf("  %-50s (a 2048-frame buffer is %.1f ms of audio at %u Hz)\n", "", 2048e3 / rate,
              rate);
  row("\"up\" -> \"final\" read (goal <= 430 ms), all holds", toFinalAll);
  row("    holds with speech", toFinalSpeech);
  row("    silent holds", toFinalSilent);
  if (!slow.empty()) std::printf("  %-50s%s\n", "    later than 430 ms:", slow.c_str());
  std::printf("  holds with speech whose \"final\" has words: %d of %d%s%s\n", withWords,
              withSpeech, example.empty() ? "" : ", e.g. ", example.c_str());
  const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  if (idleTicks >= 0)
    std::printf(
        "  idle between holds, %.1f s: utime+stime %ld ticks = %.3f %% of a core (one tick is "
        "%.2f %% here); scheduler run time %.2f ms = %.4f %%; %zu lines written\n",
        idleWall, idleTicks, 100.0 * static_cast<double>(idleTicks) * tick / idleWall,
        100.0 * tick / idleWall, static_cast<double>(idleNanoseconds) / 1e6,
        100.0 * static_cast<double>(idleNanoseconds) / 1e9 / idleWall, linesWhileIdle);
  std::printf("  resident memory: %.0f MB after \"ready\"", static_cast<double>(startKb) / 1024);
  for (const auto& [hold, kb] : afterHold)
    std::printf(", %.0f MB after hold %d", static_cast<double>(kb) / 1024, hold);
  std::printf(", %.0f MB after the last\n", static_cast<double>(endKb) / 1024);
  std::printf("  \"quit\": exit status %d; standard error %s\n", status,
              errorText.empty() ? "empty" : ("NOT empty: " + errorText).c_str());
  return 0;
}
