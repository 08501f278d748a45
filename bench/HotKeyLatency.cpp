// Time from a key event sent to the X server (XTest, from another connection) to the hot key's
// press callback on the main loop. Starts its own Xvfb.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "async/MainLoop.hpp"
#include "hotkeys/VoiceHotKey.hpp"
#include "platform/linux/X11HotKeys.hpp"
#include "support/SimulatedLoop.hpp"
#include "support/XServer.hpp"

using Clock = std::chrono::steady_clock;
using earshot::testing::settle;

int main(int argc, char** argv) {
  const int presses = argc > 1 ? std::atoi(argv[1]) : 500;
  earshot::testing::XServer server;
  if (!server.running()) {
    std::printf("hot-key latency: no Xvfb\n");
    return 1;
  }
  earshot::MainLoop loop;
  earshot::linux_platform::X11HotKeys service(loop, server.display());
  auto key = earshot::VoiceHotKey::make(service);
  Clock::time_point pressedAt;
  bool down = false;
  key->onDown = [&] {
    pressedAt = Clock::now();
    down = true;
  };
  key->onUp = [&] { down = false; };
  key->registerCombo(earshot::VoiceKeyCombo::optionSpace);

  Display* sender = XOpenDisplay(server.display().c_str());
  if (!sender) return 1;
  const KeyCode alt = XKeysymToKeycode(sender, XK_Alt_L);
  const KeyCode space = XKeysymToKeycode(sender, XK_space);
  XTestFakeKeyEvent(sender, alt, True, CurrentTime);

  std::vector<double> micros;
  for (int i = 0; i < presses; ++i) {
    const auto sentAt = Clock::now();
    XTestFakeKeyEvent(sender, space, True, CurrentTime);
    XFlush(sender);
    if (!settle(
            loop, [&] { return down; }, std::chrono::seconds(5)))
      break;
    micros.push_back(std::chrono::duration<double, std::micro>(pressedAt - sentAt).count());
    XTestFakeKeyEvent(sender, space, False, CurrentTime);
    XFlush(sender);
    if (!settle(
            loop, [&] { return !down; }, std::chrono::seconds(5)))
      break;
  }
  XTestFakeKeyEvent(sender, alt, False, CurrentTime);
  XCloseDisplay(sender);
  key->unregister();
  if (micros.empty()) return 1;

  std::sort(micros.begin(), micros.end());
  auto at = [&](double share) {
    return micros[static_cast<std::size_t>(share * (micros.size() - 1))];
  };
  std::printf("hot-key latency (XTest key press -> onDown on the main loop), %zu presses:\n",
              micros.size());
  std::printf("  median %.1f us   p90 %.1f us   min %.1f us   max %.1f us\n", at(0.5), at(0.9),
              micros.front(), micros.back());
  return 0;
}
