// What the listening mode's main loop must never wait for, as a host sees it: the real binary
// under a private Xvfb and a private PulseAudio daemon, the chord pressed with XTest from here.
// Prints the threads the listener creates per second of a long hold (goal: none; every
// pthread_create is logged by a preloaded library), and the error of the "held" reported for a
// 50 ms tap pressed right after "ready" (the recognizer still loading; goal under 10 ms) and
// for taps while the sound server is frozen (SIGSTOP).
//
//   bench_listen_stalls [TAPS [HOLD_SECONDS]]    (defaults 5 and 10)
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cmath>
#include <fstream>

#include "ListenerProcess.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"
#include "support/XServer.hpp"

using nlohmann::json;
using namespace earshot::testing;

namespace {

long long monotonicNanoseconds(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

std::string spread(std::vector<double> values) {
  if (values.empty()) return "no values";
  std::sort(values.begin(), values.end());
  char text[160];
  std::snprintf(text, sizeof text, "median %.1f ms   max %.1f ms   (min %.1f, n=%zu)",
                values[values.size() / 2], values.back(), values.front(), values.size());
  return text;
}

// Thread creations logged between two moments.
std::size_t createdBetween(const std::string& log, Clock::time_point from, Clock::time_point to) {
  std::ifstream in(log);
  std::size_t count = 0;
  for (long long at; in >> at;)
    if (at >= monotonicNanoseconds(from) && at < monotonicNanoseconds(to)) ++count;
  return count;
}

class Keyboard {
 public:
  explicit Keyboard(const std::string& display) : x_(XOpenDisplay(display.c_str())) {
    if (!x_) return;
    alt_ = XKeysymToKeycode(x_, XK_Alt_L);
    space_ = XKeysymToKeycode(x_, XK_space);
  }
  ~Keyboard() {
    if (x_) XCloseDisplay(x_);
  }
  bool ok() const { return x_ != nullptr; }
  // Alt first; the chord is pressed when space goes down. The moment it was flushed.
  Clock::time_point press() {
    XTestFakeKeyEvent(x_, alt_, True, CurrentTime);
    XFlush(x_);
    std::this_thread::sleep_for(10ms);
    XTestFakeKeyEvent(x_, space_, True, CurrentTime);
    XFlush(x_);
    return Clock::now();
  }
  Clock::time_point release() {
    XTestFakeKeyEvent(x_, space_, False, CurrentTime);
    XTestFakeKeyEvent(x_, alt_, False, CurrentTime);
    XFlush(x_);
    return Clock::now();
  }

 private:
  Display* x_;
  KeyCode alt_ = 0, space_ = 0;
};

struct Tap {
  double heldError = -1;  // |reported "held" - the tap's real length|, ms
  double toDown = -1;     // press flushed -> "down" read, ms
  double toUp = -1;       // release flushed -> "up" read, ms
  std::string outcome;
};

// One tap of `length` on a listener that has said "ready"; waits for its closing event.
Tap tap(Listener& listener, Keyboard& keys, std::chrono::milliseconds length) {
  Tap result;
  const auto pressed = keys.press();
  std::this_thread::sleep_for(length);
  const auto released = keys.release();
  auto lines = listener.until(
      [](const json& e) {
        const auto name = e.value("event", "");
        return name == "final" || name == "error" || name == "cancelled";
      },
      20s);
  if (!lines) {
    result.outcome = "no closing event";
    return result;
  }
  for (const auto& line : *lines) {
    const auto name = line.event.value("event", "");
    if (name == "down" && result.toDown < 0) result.toDown = ms(line.at - pressed);
    if (name == "up" && result.toUp < 0) result.toUp = ms(line.at - released);
  }
  const json& last = lines->back().event;
  result.outcome = last.value("event", "");
  if (result.outcome == "final")
    result.heldError = std::abs(last.value("held", 0.0) * 1000.0 - ms(released - pressed));
  else
    result.outcome = last.dump();
  return result;
}

void report(const char* what, const std::vector<Tap>& taps) {
  std::vector<double> errors, downs, ups;
  std::string odd;
  for (const auto& t : taps) {
    if (t.heldError >= 0) errors.push_back(t.heldError);
    if (t.toDown >= 0) downs.push_back(t.toDown);
    if (t.toUp >= 0) ups.push_back(t.toUp);
    if (t.outcome != "final") odd += " " + t.outcome;
  }
  std::printf("  %s:\n", what);
  std::printf("    %-44s %s\n", "\"held\" error (goal < 10 ms; 10 ms rounding)",
              spread(errors).c_str());
  std::printf("    %-44s %s\n", "press -> \"down\" read", spread(downs).c_str());
  std::printf("    %-44s %s\n", "release -> \"up\" read", spread(ups).c_str());
  if (!odd.empty()) std::printf("    not a final:%s\n", odd.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int taps = argc > 1 ? std::atoi(argv[1]) : 5;
  const int holdSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
  TemporaryFolder folder;
  XServer x;
  PulseServer pulse({{"mic", 48000, 2}});
  if (!x.running() || !pulse.running()) {
    std::printf("listening stalls: no Xvfb or no PulseAudio daemon\n");
    return 1;
  }
  Keyboard keys(x.display());
  if (!keys.ok()) return 1;
  auto environment = pulse.environment();
  environment["DISPLAY"] = x.display();
  const std::string errors = folder.file("stderr");
  auto ready = [](Listener& listener) {
    auto lines = listener.until([](const json& e) { return e.value("event", "") != ""; }, 20s);
    return lines && lines->back().event.value("event", "") == "ready";
  };
  std::printf("listening mode, private Xvfb and PulseAudio daemon (48 kHz stereo), load %s\n",
              [] {
                std::ifstream in("/proc/loadavg");
                std::string load;
                in >> load;
                return load;
              }()
                  .c_str());

  // Threads per second of a hold.
  {
    const std::string log = folder.file("threads");
    auto preloaded = environment;
    preloaded["LD_PRELOAD"] = EARSHOT_THREAD_LOG_LIBRARY;
    preloaded["EARSHOT_THREAD_LOG"] = log;
    Listener listener(EARSHOT_BINARY, preloaded, errors);
    if (!ready(listener)) return 1;
    std::this_thread::sleep_for(2s);
    const auto idleFrom = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(holdSeconds / 2));
    const auto idleTo = Clock::now();
    const auto pressed = keys.press();
    // The take's own start (capture, analyzer) is left out: a second in, the hold is steady.
    std::this_thread::sleep_for(1s);
    const auto steady = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(holdSeconds));
    const auto released = keys.release();
    listener.until([](const json& e) { return e.value("event", "") == "final"; }, 20s);
    const double steadySeconds = std::chrono::duration<double>(released - steady).count();
    const std::size_t inHold = createdBetween(log, pressed, released);
    const std::size_t inSteady = createdBetween(log, steady, released);
    const std::size_t idle = createdBetween(log, idleFrom, idleTo);
    std::printf(
        "  threads created: %.2f per second of hold (%zu in %.1f s, from 1 s after the "
        "press to the release; %zu in the whole hold of %.1f s); %zu in %.1f s idle\n",
        static_cast<double>(inSteady) / steadySeconds, inSteady, steadySeconds, inHold,
        std::chrono::duration<double>(released - pressed).count(), idle,
        std::chrono::duration<double>(idleTo - idleFrom).count());
    listener.send("quit");
    listener.exitStatus(10s);
  }

  // A 50 ms tap right after "ready", a new listener each time.
  {
    std::vector<Tap> results;
    for (int i = 0; i < taps; ++i) {
      Listener listener(EARSHOT_BINARY, environment, errors);
      if (!ready(listener)) return 1;
      results.push_back(tap(listener, keys, 50ms));
      listener.send("quit");
      listener.exitStatus(10s);
    }
    report("a 50 ms tap pressed right after \"ready\"", results);
  }

  // Taps while the sound server is frozen.
  {
    Listener listener(EARSHOT_BINARY, environment, errors);
    if (!ready(listener)) return 1;
    std::this_thread::sleep_for(2s);
    pulse.freeze();
    std::vector<Tap> short_, longer;
    for (int i = 0; i < taps; ++i) {
      short_.push_back(tap(listener, keys, 50ms));
      longer.push_back(tap(listener, keys, 300ms));
      std::this_thread::sleep_for(300ms);
    }
    pulse.thaw();
    report("a 50 ms tap, sound server frozen (SIGSTOP)", short_);
    report("a 300 ms hold, sound server frozen (SIGSTOP)", longer);
    listener.send("quit");
    listener.exitStatus(10s);
  }
  std::ifstream errorFile(errors);
  const std::string errorText((std::istreambuf_iterator<char>(errorFile)), {});
  std::printf("  standard error of the last listener: %s\n",
              errorText.empty() ? "empty" : errorText.c_str());
  return 0;
}
