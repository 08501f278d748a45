// Push-to-talk through the desktop portal as a host sees it: the real binary on a private session
// bus with Debian's xdg-desktop-portal and the tests' stand-in back end, a private PulseAudio
// daemon, no display. Prints median / p90 of the stand-in's Activated to "down" and Deactivated to
// "up", in all and beyond the portal's own delivery (from the moment the portal's signal to the
// listener is seen on the bus, by eavesdropping).
// With --kwin, on a real KDE desktop instead (KWin's virtual back end, xdg-desktop-portal-kde):
// the chord pressed and released through KWin's fake-input protocol. Started as root, it runs
// itself again as an unprivileged user, as KWin needs.
//
// With --pending (stand-in only): the host's "press" and "release" to "down" and "up" while the
// listener's bind waits for the desktop's answer (as behind a confirmation dialog), then that
// answer to "ready".
//
//   bench_portal_holds [--kwin] [HOLDS] [--pending]    (default 40)
#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/KWinDesktop.hpp"
#include "support/LiveProcess.hpp"
#include "support/PortalDesktop.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"

using Clock = std::chrono::steady_clock;
using namespace earshot::testing;
using namespace std::chrono_literals;

namespace {

// The portal's Activated and Deactivated on their way to the listener, stamped as they pass.
class Eavesdropper {
 public:
  explicit Eavesdropper(const std::string& address) {
    GError* error = nullptr;
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus_) {
      std::fprintf(stderr, "no bus: %s\n", error ? error->message : "?");
      return;
    }
    g_dbus_connection_add_filter(bus_, &Eavesdropper::filter, this, nullptr);
    // A monitor sees the portal's signal on its way to the listener, which a match rule would not.
    const gchar* rules[] = {"type='signal',interface='org.freedesktop.portal.GlobalShortcuts'",
                            nullptr};
    GVariant* reply = g_dbus_connection_call_sync(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
        "BecomeMonitor", g_variant_new("(^asu)", rules, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr, &error);
    if (!reply) std::fprintf(stderr, "not a monitor: %s\n", error ? error->message : "?");
    if (reply) g_variant_unref(reply);
  }
  ~Eavesdropper() {
    if (bus_) g_object_unref(bus_);
  }
  // When the signal of that name passed after `since`; the monitor's copy may come a little
  // after the listener's, so it is waited for (up to 0.5 s).
  Clock::time_point after(const std::string& name, Clock::time_point since) {
    for (int k = 0; k < 500; ++k) {
      {
        std::lock_guard guard(lock_);
        const auto at = name == "Activated" ? activated_ : deactivated_;
        if (at > since) return at;
      }
      std::this_thread::sleep_for(1ms);
    }
    return since;
  }

 private:
  static GDBusMessage* filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                              gpointer data) {
    auto* self = static_cast<Eavesdropper*>(data);
    const auto now = Clock::now();
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_SIGNAL) {
      const char* member = g_dbus_message_get_member(message);
      const char* interface = g_dbus_message_get_interface(message);
      // The portal's signal, not the back end's to the portal.
      if (member && interface &&
          std::string(interface) == "org.freedesktop.portal.GlobalShortcuts") {
        std::lock_guard guard(self->lock_);
        if (std::string(member) == "Activated") self->activated_ = now;
        if (std::string(member) == "Deactivated") self->deactivated_ = now;
      }
    }
    return message;
  }
  GDBusConnection* bus_ = nullptr;
  std::mutex lock_;
  Clock::time_point activated_, deactivated_;
};

double ms(Clock::duration span) {
  return std::chrono::duration<double, std::milli>(span).count();
}

void report(const char* what, std::vector<double> values) {
  if (values.empty()) return;
  std::sort(values.begin(), values.end());
  std::printf("%-44s median %.2f ms  p90 %.2f ms  (n=%zu)\n", what, values[values.size() / 2],
              values[values.size() * 9 / 10], values.size());
}

// Host-driven holds while the first bind is held by the stand-in.
int pendingHolds(PortalDesktop& desktop, LiveProcess& listener, int holds) {
  if (desktop.report("bound", 20s).empty()) {
    std::fprintf(stderr, "no bind\n");
    return 1;
  }
  std::vector<double> down, up;
  for (int k = 0; k < holds; ++k) {
    auto sent = Clock::now();
    listener.send("press");
    auto event = listener.next(5s);
    if (event.value("event", "") != "down") {
      std::fprintf(stderr, "hold %d: %s\n", k, event.dump().c_str());
      return 1;
    }
    down.push_back(ms(Clock::now() - sent));
    std::this_thread::sleep_for(300ms);
    while (!listener.next(1ms).is_null()) {
    }
    sent = Clock::now();
    listener.send("release");
    for (;;) {
      event = listener.next(5s);
      if (event.is_null() || event.value("event", "") == "up") break;
    }
    if (event.is_null()) return 1;
    up.push_back(ms(Clock::now() - sent));
    listener.until("final", 15s);
  }
  const auto sent = Clock::now();
  desktop.send("answer");
  if (listener.next(20s).value("event", "") != "ready") {
    std::fprintf(stderr, "no ready\n");
    return 1;
  }
  const double ready = ms(Clock::now() - sent);
  report("host \"press\" to \"down\", bind pending", down);
  report("host \"release\" to \"up\", bind pending", up);
  std::printf("%-44s %.2f ms\n", "the desktop's answer to \"ready\"", ready);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool kwin = argc > 1 && std::string(argv[1]) == "--kwin";
  const int holds = argc > 1 + kwin ? std::atoi(argv[1 + kwin]) : 40;
  const bool pending = !kwin && argc > 2 && std::string(argv[2]) == "--pending";
  std::unique_ptr<PortalDesktop> standIn;
  std::unique_ptr<KWinDesktop> plasma;
  std::string earshot = EARSHOT_BINARY;
  if (kwin) {
#ifdef EARSHOT_FAKE_INPUT
    const int status = runAsDesktopUser(
        argc, argv,
        {"EARSHOT_KWIN_EARSHOT=" EARSHOT_BINARY, "EARSHOT_KWIN_FAKE_INPUT=" EARSHOT_FAKE_INPUT});
    if (status >= 0) return status;
    earshot = copiedProgram("EARSHOT_KWIN_EARSHOT", EARSHOT_BINARY);
    plasma =
        std::make_unique<KWinDesktop>(copiedProgram("EARSHOT_KWIN_FAKE_INPUT", EARSHOT_FAKE_INPUT));
    if (!plasma->running()) {
      std::fprintf(stderr, "no desktop: %s\n", plasma->failure().c_str());
      return 1;
    }
#else
    std::fprintf(stderr, "built without KWin's packages\n");
    return 1;
#endif
  } else {
    standIn = std::make_unique<PortalDesktop>(EARSHOT_STAND_IN_PORTAL);
    if (!standIn->running()) {
      std::fprintf(stderr, "no private portal\n");
      return 1;
    }
  }
  PulseServer pulse;
  if (!pulse.running()) {
    std::fprintf(stderr, "no private sound server\n");
    return 1;
  }
  const std::string source = kwin ? "fake-input key" : "stand-in";
  // The key that completes the chord is pressed last and let go first.
  auto release = [&] {
    if (plasma) return plasma->release({altSpace[1]});
    return standIn->send("release");
  };
  auto after = [&] {
    if (plasma) return plasma->release({altSpace[0]});
    return !standIn->report("ok").empty();
  };
  Eavesdropper eavesdropper(kwin ? plasma->address() : standIn->address());
  TemporaryFolder folder;
  auto environment = pulse.environment();
  for (const auto& [name, value] : kwin ? plasma->environment() : standIn->environment())
    environment[name] = value;
  if (pending) standIn->control("hold");
  LiveProcess listener(earshot, {"--language", "en"}, environment, folder.file("stderr"));
  if (pending) return pendingHolds(*standIn, listener, holds);
  if (listener.next(30s).value("event", "") != "ready") {
    std::fprintf(stderr, "no ready\n");
    return 1;
  }
  std::vector<double> down, up, downBeyond, upBeyond;
  for (int k = 0; k < holds; ++k) {
    if (plasma) plasma->press({altSpace[0]});
    auto sent = Clock::now();
    if (plasma)
      plasma->press({altSpace[1]});
    else
      standIn->send("press");
    auto event = listener.next(5s);
    auto seen = Clock::now();
    if (event.value("event", "") != "down") {
      std::fprintf(stderr, "hold %d: %s\n", k, event.dump().c_str());
      return 1;
    }
    down.push_back(ms(seen - sent));
    downBeyond.push_back(ms(seen - eavesdropper.after("Activated", sent)));
    if (!plasma) standIn->report("ok");
    std::this_thread::sleep_for(300ms);
    // Events of the take ("open", "level") come meanwhile.
    while (!listener.next(1ms).is_null()) {
    }
    sent = Clock::now();
    release();
    for (;;) {
      event = listener.next(5s);
      if (event.is_null() || event.value("event", "") == "up") break;
    }
    seen = Clock::now();
    if (event.is_null()) {
      std::fprintf(stderr, "hold %d: no up\n", k);
      return 1;
    }
    up.push_back(ms(seen - sent));
    upBeyond.push_back(ms(seen - eavesdropper.after("Deactivated", sent)));
    after();
    listener.until("final", 15s);
  }
  report((source + " pressed to \"down\"").c_str(), down);
  report((source + " released to \"up\"").c_str(), up);
  report("portal's Activated on the bus to \"down\"", downBeyond);
  report("portal's Deactivated on the bus to \"up\"", upBeyond);
  return 0;
}
