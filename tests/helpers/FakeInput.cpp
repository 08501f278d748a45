// Presses and releases keys on a KWin session through its fake-input protocol, as a keyboard would.
// Reads commands on standard input, one a line, and answers each with "ok" (or "error ..."):
//   press CODE / release CODE    an evdev key code (KEY_LEFTALT 56, KEY_SPACE 57)
// Prints "ready" once KWin has taken the authentication. KWin must run with
// KWIN_WAYLAND_NO_PERMISSION_CHECKS=1, or it ignores an unknown client's input.
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "fake-input-client-protocol.h"

namespace {

struct Globals {
  org_kde_kwin_fake_input* fakeInput = nullptr;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
            uint32_t version) {
  auto* globals = static_cast<Globals*>(data);
  // keyboard_key came with version 4.
  if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
    globals->fakeInput = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
}

void globalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener = {global, globalRemove};

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::puts("error no Wayland display");
    return 1;
  }
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, &globals);
  wl_display_roundtrip(display);
  if (!globals.fakeInput) {
    std::puts("error no org_kde_kwin_fake_input of version 4");
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(globals.fakeInput, "earshot tests", "pressing the chord");
  if (wl_display_roundtrip(display) < 0) {
    std::puts("error the compositor closed the connection");
    return 1;
  }
  std::puts("ready");
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string verb;
    unsigned code = 0;
    if (!(words >> verb >> code) || (verb != "press" && verb != "release")) {
      std::printf("error unknown command: %s\n", line.c_str());
      continue;
    }
    org_kde_kwin_fake_input_keyboard_key(
        globals.fakeInput, code,
        verb == "press" ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    // A round trip: KWin has handled the key once it answers.
    if (wl_display_roundtrip(display) < 0) {
      std::puts("error the compositor closed the connection");
      return 1;
    }
    std::puts("ok");
  }
  org_kde_kwin_fake_input_destroy(globals.fakeInput);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return 0;
}
