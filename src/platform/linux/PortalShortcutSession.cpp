#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/linux/PortalBus.hpp"

namespace earshot::linux_platform {

namespace {

constexpr const char* shortcutDescription = "Push to talk";
// Stable, so that desktops that keep bindings per session token find ours again.
constexpr const char* sessionToken = "earshot";

}  // namespace

std::string portal::trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void PortalHotKeys::Bus::forgetSession() {
  if (connection && sessionClosed) g_dbus_connection_signal_unsubscribe(connection, sessionClosed);
  sessionClosed = 0;
  session.clear();
}

void PortalHotKeys::Bus::connected(GDBusConnection* made) {
  connection = made;
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  std::string unique = g_dbus_connection_get_unique_name(connection);
  if (!unique.empty() && unique[0] == ':') unique.erase(0, 1);
  std::replace(unique.begin(), unique.end(), '.', '_');
  sender = unique;
  for (const char* name : {"Activated", "Deactivated"}) {
    subscriptions.push_back(g_dbus_connection_signal_subscribe(
        connection, nullptr, portal::shortcutsInterface, name, portal::path, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onShortcut, this, nullptr));
  }
  subscriptions.push_back(g_dbus_connection_signal_subscribe(
      connection, nullptr, portal::shortcutsInterface, "ShortcutsChanged", portal::path, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onShortcutsChanged, this, nullptr));
  subscriptions.push_back(
      g_dbus_connection_signal_subscribe(connection, "org.freedesktop.DBus", "org.freedesktop.DBus",
                                         "NameOwnerChanged", "/org/freedesktop/DBus", portal::name,
                                         G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onOwner, this, nullptr));
  closedHandler = g_signal_connect(connection, "closed", G_CALLBACK(&Bus::onClosed), this);
  // Newer portals know a process outside a sandbox by what its host registered; older ones
  // have no registry and answer with an error, which changes nothing.
  if (const char* id = std::getenv("EARSHOT_APP_ID"); id && *id) {
    GVariant* reply = g_dbus_connection_call_sync(
        connection, portal::name, portal::path, "org.freedesktop.host.portal.Registry", "Register",
        g_variant_new("(s@a{sv})", id, g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
        nullptr, G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(limits.call.count()), nullptr, nullptr);
    if (reply) g_variant_unref(reply);
  }
}

void PortalHotKeys::Bus::onShortcut(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                    const gchar* signal, GVariant* parameters, gpointer data) {
  auto* bus = static_cast<Bus*>(data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
  const gchar* session = nullptr;
  const gchar* id = nullptr;
  g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
  if (bus->session.empty() || bus->session != session || std::string(id) != portal::shortcutId)
    return;
  // The portal's timestamps are not to be trusted (zero on some desktops): the main loop's
  // clock times the hold.
  if (bus->onActivated) bus->onActivated(std::string(signal) == "Activated");
}

void PortalHotKeys::Bus::onShortcutsChanged(GDBusConnection*, const gchar*, const gchar*,
                                            const gchar*, const gchar*, GVariant* parameters,
                                            gpointer data) {
  auto* bus = static_cast<Bus*>(data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa(sa{sv}))"))) return;
  const gchar* session = nullptr;
  GVariantIter* shortcuts = nullptr;
  g_variant_get(parameters, "(&oa(sa{sv}))", &session, &shortcuts);
  if (!bus->session.empty() && bus->session == session) {
    const gchar* id = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(shortcuts, "(&s@a{sv})", &id, &properties)) {
      const gchar* text = nullptr;
      if (std::string(id) == portal::shortcutId && bus->onChanged) {
        if (!g_variant_lookup(properties, "trigger_description", "&s", &text)) text = "";
        bus->onChanged(text);
      }
      g_variant_unref(properties);
    }
  }
  g_variant_iter_free(shortcuts);
}

void PortalHotKeys::Bus::onOwner(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar*, GVariant* parameters, gpointer data) {
  auto* bus = static_cast<Bus*>(data);
  const gchar* newOwner = nullptr;
  g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &newOwner);
  if (newOwner && *newOwner) return;
  bus->sessionGone("the desktop portal left the bus");
}

void PortalHotKeys::Bus::onSessionClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                         const gchar*, GVariant*, gpointer data) {
  static_cast<Bus*>(data)->sessionGone("the desktop closed the shortcut session");
}

void PortalHotKeys::Bus::onClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
  static_cast<Bus*>(data)->sessionGone("the session bus went away");
}

void PortalHotKeys::Bus::sessionGone(const std::string& why) {
  const bool had = !session.empty();
  forgetSession();
  // A bind under way would be granted in a session that is no more.
  if (binding) std::exchange(binding, nullptr)({lost, why, {}});
  if (had && onLost) onLost(why);
}

GVariant* PortalHotKeys::Bus::shortcuts(const std::string& trigger) {
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "description", g_variant_new_string(shortcutDescription));
  g_variant_builder_add(&options, "{sv}", "preferred_trigger",
                        g_variant_new_string(trigger.c_str()));
  GVariantBuilder list;
  g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
  g_variant_builder_add(&list, "(s@a{sv})", portal::shortcutId, g_variant_builder_end(&options));
  return g_variant_builder_end(&list);
}

PortalHotKeys::Bus::Outcome PortalHotKeys::Bus::failure(const Answer& answer, const char* what) {
  if (!answer.delivered) {
    if (answer.missing) return {unavailable, "the desktop portal has no global shortcuts", {}};
    return {refused, std::string("the desktop portal refused ") + what + ": " + answer.error, {}};
  }
  if (answer.response == 1) return {refused, std::string("the user declined ") + what, {}};
  return {refused, std::string("the desktop portal refused ") + what, {}};
}

void PortalHotKeys::Bus::bind(const std::string& trigger, std::function<void(Outcome)> answer) {
  binding = std::move(answer);
  auto done = [this, generation = ++binds](Outcome outcome) {
    if (generation == binds && binding) std::exchange(binding, nullptr)(std::move(outcome));
  };
  connect([this, trigger, done](bool ok) {
    if (!ok) return done({unavailable, "no session bus", {}});
    if (!session.empty()) return bindInSession(trigger, done);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token().c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken));
    // Some desktops register only the shortcuts named when the session is made.
    g_variant_builder_add(&options, "{sv}", "shortcuts", shortcuts(trigger));
    GVariant* parameters = g_variant_new("(a{sv})", &options);
    const std::string handleToken = lastToken();
    request("CreateSession", handleToken, parameters, [this, trigger, done](Answer answer) {
      const gchar* handle = nullptr;
      if (answer.delivered && answer.response == 0 && answer.results &&
          !g_variant_lookup(answer.results, "session_handle", "&s", &handle))
        g_variant_lookup(answer.results, "session_handle", "&o", &handle);
      if (!handle || !*handle) {
        auto outcome = failure(answer, "a shortcut session");
        if (answer.results) g_variant_unref(answer.results);
        return done(outcome);
      }
      session = handle;
      if (answer.results) g_variant_unref(answer.results);
      sessionClosed = g_dbus_connection_signal_subscribe(
          connection, nullptr, "org.freedesktop.portal.Session", "Closed", session.c_str(), nullptr,
          G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onSessionClosed, this, nullptr);
      bindInSession(trigger, done);
    });
  });
}

void PortalHotKeys::Bus::bindInSession(const std::string& trigger,
                                       std::function<void(Outcome)> done) {
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token().c_str()));
  GVariant* parameters =
      g_variant_new("(o@a(sa{sv})sa{sv})", session.c_str(), shortcuts(trigger), "", &options);
  request("BindShortcuts", lastToken(), parameters, [done](Answer answer) {
    if (!answer.delivered || answer.response != 0) {
      auto outcome = failure(answer, "the shortcut");
      if (answer.results) g_variant_unref(answer.results);
      return done(outcome);
    }
    std::string description;
    bool found = false;
    if (GVariant* list = answer.results ? g_variant_lookup_value(answer.results, "shortcuts",
                                                                 G_VARIANT_TYPE("a(sa{sv})"))
                                        : nullptr) {
      GVariantIter iter;
      g_variant_iter_init(&iter, list);
      const gchar* id = nullptr;
      GVariant* properties = nullptr;
      while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
        if (std::string(id) == portal::shortcutId) {
          found = true;
          const gchar* text = nullptr;
          if (g_variant_lookup(properties, "trigger_description", "&s", &text) && text)
            description = text;
        }
        g_variant_unref(properties);
      }
      g_variant_unref(list);
    }
    if (answer.results) g_variant_unref(answer.results);
    if (!found) return done({refused, "the desktop did not bind the shortcut", {}});
    if (portal::trimmed(description).empty())
      return done({refused, "the desktop assigned the shortcut no trigger", {}});
    done({0, {}, description});
  });
}

void PortalHotKeys::Bus::probe(std::function<void(bool)> done) {
  connect([this, done](bool ok) {
    if (!ok) return done(false);
    GVariant* reply = g_dbus_connection_call_sync(
        connection, portal::name, portal::path, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", portal::shortcutsInterface, "version"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(limits.call.count()), nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    done(reply != nullptr);
  });
}

}  // namespace earshot::linux_platform
