#pragma once

// The D-Bus side of the portal back end, private to it: a GLib thread with its bus connection and
// the portal's request/response plumbing (PortalBus.cpp), and the GlobalShortcuts session run on
// it (PortalShortcutSession.cpp). Members below `thread` are touched on the bus thread only.

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/PortalHotKeys.hpp"

namespace earshot::linux_platform {

namespace portal {

inline constexpr const char* name = "org.freedesktop.portal.Desktop";
inline constexpr const char* path = "/org/freedesktop/portal/desktop";
inline constexpr const char* shortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
inline constexpr const char* shortcutId = "push-to-talk";

// The session bus of the environment, never one started on demand (GIO would run dbus-launch,
// which waits on the X display).
std::string sessionBusAddress();

std::string trimmed(const std::string& text);

// What a request to the portal came to.
struct Answer {
  bool delivered = false;  // false: the call itself failed, `error` says why
  bool missing = false;    // the portal or its interface is not there at all
  guint32 response = 2;
  GVariant* results = nullptr;  // owned
  std::string error;
};

}  // namespace portal

struct PortalHotKeys::Bus {
  using Answer = portal::Answer;
  struct Outcome {
    StatusCode status = 0;
    std::string detail;
    std::string trigger;
  };

  Bus(std::string address, Limits limits);
  ~Bus();

  // Runs `work` on the bus thread.
  void run(std::function<void()> work);

  // Starts `work` on the bus thread and waits for what it hands to its callback, at most `limit`.
  template <class T>
  std::optional<T> await(std::function<void(std::function<void(T)>)> work,
                         std::chrono::milliseconds limit) {
    auto promise = std::make_shared<std::promise<T>>();
    auto given = std::make_shared<std::atomic<bool>>(false);
    auto future = promise->get_future();
    run([work = std::move(work), promise, given] {
      work([promise, given](T value) {
        if (!given->exchange(true)) promise->set_value(std::move(value));
      });
    });
    if (future.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return future.get();
  }

  // --- on the bus thread: the connection and requests (PortalBus.cpp) ---

  void drop();
  bool connected() const { return connection && !g_dbus_connection_is_closed(connection); }
  // Connects to the bus if need be, then calls `then` with whether it is connected.
  void connect(std::function<void(bool)> then);
  // Makes a portal request: subscribes to its Response first, then calls `method`.
  void request(const char* method, const std::string& token, GVariant* parameters,
               std::function<void(Answer)> done);
  std::string token() { return "earshot" + std::to_string(++nextToken); }
  std::string lastToken() const { return "earshot" + std::to_string(nextToken); }

  // --- on the bus thread: the shortcut session (PortalShortcutSession.cpp) ---

  // The connection is new: the shortcut's signals are subscribed to.
  void connected(GDBusConnection* made);
  void forgetSession();
  void sessionGone(const std::string& why);
  // Opens the session if there is none, binds the shortcut with `trigger` as its preferred
  // trigger (on every start: some desktops forget shortcuts that are only listed), and hands the
  // outcome to `done`.
  // Only the latest bind answers, once: a late answer to an older one, or one after the session
  // was lost, is dropped.
  void bind(const std::string& trigger, std::function<void(Outcome)> answer);
  void bindInSession(const std::string& trigger, std::function<void(Outcome)> done);
  // Whether the portal speaks GlobalShortcuts: its interface's version can be read.
  void probe(std::function<void(bool)> done);

  static GVariant* shortcuts(const std::string& trigger);
  static Outcome failure(const Answer& answer, const char* what);
  static void onShortcut(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                         const gchar* signal, GVariant* parameters, gpointer data);
  static void onShortcutsChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar*, GVariant* parameters, gpointer data);
  static void onOwner(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                      GVariant* parameters, gpointer data);
  static void onSessionClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar*, GVariant*, gpointer data);
  static void onClosed(GDBusConnection*, gboolean, GError*, gpointer data);

  const std::string address;
  const Limits limits;
  GMainContext* context = nullptr;
  GMainLoop* glibLoop = nullptr;
  std::thread thread;
  // Set before the first call, called on the bus thread.
  std::function<void(bool)> onActivated;
  std::function<void(std::string)> onLost;
  std::function<void(std::string)> onChanged;

  GDBusConnection* connection = nullptr;
  std::string sender;
  std::string session;
  guint sessionClosed = 0;
  gulong closedHandler = 0;
  std::vector<guint> subscriptions;
  unsigned nextToken = 0;
  std::function<void(Outcome)> binding;  // the bind under way, if any
  std::uint64_t binds = 0;
};

}  // namespace earshot::linux_platform
