// A stand-in for a desktop's portal back end (org.freedesktop.impl.portal.GlobalShortcuts) on the
// bus of DBUS_SESSION_BUS_ADDRESS, driven by lines on standard input:
//   press | release        Activated / Deactivated for the bound shortcut (press again: a repeat)
//   refuse create|bind|none the next requests of that kind answer "refused" (none: stop refusing)
//   trigger TEXT | trigger -  what binds answer as the trigger's description (-: none at all)
//   trim                   binds answer with no shortcut at all
//   change TEXT | change -  the user gives the shortcut another trigger (-: none)
//   close                  the desktop closes the session
//   hold | answer          binds wait for an answer, as behind the user's dialog; answer: the
//                          binds waiting are answered and binds answer at once again
//   leave                  leaves the bus and ends
// It prints "ready" once it owns its name, "session APP_ID" for each session, "bound PREFERRED"
// for each bind and "ok" after each command.
#include <gio/gio.h>
#include <glib-unix.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* implName = "org.freedesktop.impl.portal.desktop.earshottest";
const char* implPath = "/org/freedesktop/portal/desktop";

const char* introspection = R"xml(<node>
  <interface name="org.freedesktop.impl.portal.GlobalShortcuts">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="BindShortcuts">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a(sa{sv})" name="shortcuts" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="ListShortcuts">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <signal name="Activated">
      <arg type="o" name="session_handle"/><arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/><arg type="a{sv}" name="options"/>
    </signal>
    <signal name="Deactivated">
      <arg type="o" name="session_handle"/><arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/><arg type="a{sv}" name="options"/>
    </signal>
    <signal name="ShortcutsChanged">
      <arg type="o" name="session_handle"/><arg type="a(sa{sv})" name="shortcuts"/>
    </signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
    <property name="version" type="u" access="read"/>
  </interface>
</node>)xml";

struct State {
  GDBusConnection* bus = nullptr;
  GDBusNodeInfo* node = nullptr;
  GMainLoop* loop = nullptr;
  std::string session;
  guint sessionObject = 0;
  std::string shortcut = "push-to-talk";
  bool refuseCreate = false, refuseBind = false, trim = false;
  bool hold = false;
  std::vector<std::pair<GDBusMethodInvocation*, GVariant*>> held;  // with their answers
  bool fixedTrigger = false;
  std::string trigger;  // when fixed; empty: no trigger
  std::string input;
} state;

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void dropSession() {
  if (state.sessionObject) g_dbus_connection_unregister_object(state.bus, state.sessionObject);
  state.sessionObject = 0;
  state.session.clear();
}

GVariant* property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                   GError**, gpointer) {
  return g_variant_new_uint32(1);
}

void sessionCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                 GVariant*, GDBusMethodInvocation* invocation, gpointer) {
  g_dbus_method_invocation_return_value(invocation, nullptr);
  say("closed");
  dropSession();
}

GVariant* emptyResults(guint32 response) {
  return g_variant_new("(u@a{sv})", response,
                       g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0));
}

void shortcutsCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                   GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
  const std::string name = method;
  if (name == "CreateSession") {
    const gchar *handle, *session, *app;
    g_variant_get(parameters, "(&o&o&sa{sv})", &handle, &session, &app, nullptr);
    say(std::string("session ") + app);
    if (state.refuseCreate)
      return g_dbus_method_invocation_return_value(invocation, emptyResults(2));
    dropSession();
    static GDBusInterfaceVTable table{sessionCall, property, nullptr, {}};
    state.sessionObject = g_dbus_connection_register_object(
        state.bus, session, state.node->interfaces[1], &table, nullptr, nullptr, nullptr);
    state.session = session;
    return g_dbus_method_invocation_return_value(invocation, emptyResults(0));
  }
  if (name == "BindShortcuts") {
    const gchar *handle, *session, *parent;
    GVariantIter* shortcuts;
    g_variant_get(parameters, "(&o&oa(sa{sv})&sa{sv})", &handle, &session, &shortcuts, &parent,
                  nullptr);
    std::string preferred;
    const gchar* id;
    GVariant* options;
    while (g_variant_iter_next(shortcuts, "(&s@a{sv})", &id, &options)) {
      state.shortcut = id;
      const gchar* text = nullptr;
      if (g_variant_lookup(options, "preferred_trigger", "&s", &text)) preferred = text;
      g_variant_unref(options);
    }
    g_variant_iter_free(shortcuts);
    say("bound " + preferred);
    if (state.refuseBind) return g_dbus_method_invocation_return_value(invocation, emptyResults(2));
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    if (!state.trim) {
      GVariantBuilder properties;
      g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
      g_variant_builder_add(&properties, "{sv}", "description",
                            g_variant_new_string("Push to talk"));
      const std::string described = state.fixedTrigger ? state.trigger : preferred;
      g_variant_builder_add(&properties, "{sv}", "trigger_description",
                            g_variant_new_string(described.c_str()));
      g_variant_builder_add(&list, "(s@a{sv})", state.shortcut.c_str(),
                            g_variant_builder_end(&properties));
    }
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&results, "{sv}", "shortcuts", g_variant_builder_end(&list));
    GVariant* answer = g_variant_new("(u@a{sv})", 0u, g_variant_builder_end(&results));
    if (state.hold) {
      state.held.emplace_back(invocation, g_variant_ref_sink(answer));
      return;
    }
    return g_dbus_method_invocation_return_value(invocation, answer);
  }
  g_dbus_method_invocation_return_value(invocation, emptyResults(0));
}

void signal(const char* name) {
  if (state.session.empty()) return;
  g_dbus_connection_emit_signal(
      state.bus, nullptr, implPath, "org.freedesktop.impl.portal.GlobalShortcuts", name,
      g_variant_new("(ost@a{sv})", state.session.c_str(), state.shortcut.c_str(),
                    static_cast<guint64>(0),
                    g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
      nullptr);
  g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
}

void command(const std::string& line) {
  const auto space = line.find(' ');
  const std::string verb = line.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
  if (verb == "press") signal("Activated");
  if (verb == "release") signal("Deactivated");
  if (verb == "refuse") {
    state.refuseCreate = rest == "create";
    state.refuseBind = rest == "bind";
  }
  if (verb == "trigger") {
    state.fixedTrigger = true;
    state.trigger = rest == "-" ? "" : rest;
  }
  if (verb == "trim") state.trim = true;
  if (verb == "change" && !state.session.empty()) {
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string("Push to talk"));
    g_variant_builder_add(&properties, "{sv}", "trigger_description",
                          g_variant_new_string(rest == "-" ? "" : rest.c_str()));
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    g_variant_builder_add(&list, "(s@a{sv})", state.shortcut.c_str(),
                          g_variant_builder_end(&properties));
    g_dbus_connection_emit_signal(
        state.bus, nullptr, implPath, "org.freedesktop.impl.portal.GlobalShortcuts",
        "ShortcutsChanged",
        g_variant_new("(o@a(sa{sv}))", state.session.c_str(), g_variant_builder_end(&list)),
        nullptr);
    g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
  }
  if (verb == "close" && !state.session.empty()) {
    g_dbus_connection_emit_signal(state.bus, nullptr, state.session.c_str(),
                                  "org.freedesktop.impl.portal.Session", "Closed", nullptr,
                                  nullptr);
    g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
    dropSession();
  }
  if (verb == "hold") state.hold = true;
  if (verb == "answer") {
    state.hold = false;
    for (auto& [invocation, answer] : std::exchange(state.held, {})) {
      g_dbus_method_invocation_return_value(invocation, answer);
      g_variant_unref(answer);
    }
    g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
  }
  if (verb == "leave") g_main_loop_quit(state.loop);
  say("ok");
}

gboolean readable(gint fd, GIOCondition, gpointer) {
  char buffer[512];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got <= 0) {
    g_main_loop_quit(state.loop);
    return G_SOURCE_REMOVE;
  }
  state.input.append(buffer, static_cast<std::size_t>(got));
  for (auto end = state.input.find('\n'); end != std::string::npos; end = state.input.find('\n')) {
    const std::string line = state.input.substr(0, end);
    state.input.erase(0, end + 1);
    command(line);
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main() {
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!address) return 2;
  GError* error = nullptr;
  state.bus = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!state.bus) return 2;
  state.node = g_dbus_node_info_new_for_xml(introspection, nullptr);
  state.loop = g_main_loop_new(nullptr, FALSE);
  static GDBusInterfaceVTable table{shortcutsCall, property, nullptr, {}};
  g_dbus_connection_register_object(state.bus, implPath, state.node->interfaces[0], &table, nullptr,
                                    nullptr, nullptr);
  GVariant* owned = g_dbus_connection_call_sync(
      state.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", implName, 4u), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!owned) return 2;
  g_variant_unref(owned);
  g_unix_fd_add(STDIN_FILENO, G_IO_IN, readable, nullptr);
  say("ready");
  g_main_loop_run(state.loop);
  g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
  return 0;
}
