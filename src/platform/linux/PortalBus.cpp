#include "platform/linux/PortalBus.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <utility>

#include "platform/linux/GLibSilence.hpp"

namespace earshot::linux_platform {

std::string portal::sessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
    return address;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    const std::string socket = std::string(runtime) + "/bus";
    struct stat info {};
    if (stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return "unix:path=" + socket;
  }
  return {};
}

PortalHotKeys::Bus::Bus(std::string address, Limits limits)
    : address(std::move(address)), limits(limits) {
  silenceGLib();
  context = g_main_context_new();
  glibLoop = g_main_loop_new(context, FALSE);
  thread = std::thread([this] {
    g_main_context_push_thread_default(context);
    g_main_loop_run(glibLoop);
    drop();
    g_main_context_pop_thread_default(context);
  });
}

PortalHotKeys::Bus::~Bus() {
  run([this] { g_main_loop_quit(glibLoop); });
  thread.join();
  g_main_loop_unref(glibLoop);
  g_main_context_unref(context);
}

void PortalHotKeys::Bus::run(std::function<void()> work) {
  g_main_context_invoke_full(
      context, G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(work)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

void PortalHotKeys::Bus::drop() {
  forgetSession();
  if (connection) {
    for (guint id : subscriptions) g_dbus_connection_signal_unsubscribe(connection, id);
    subscriptions.clear();
    if (closedHandler) g_signal_handler_disconnect(connection, closedHandler);
    closedHandler = 0;
    g_object_unref(connection);
    connection = nullptr;
  }
}

void PortalHotKeys::Bus::connect(std::function<void(bool)> then) {
  if (connected()) return then(true);
  drop();
  if (address.empty()) return then(false);
  struct Attempt {
    Bus* bus;
    std::function<void(bool)> then;
    GCancellable* cancel = g_cancellable_new();
    GSource* timeout = nullptr;
  };
  auto* attempt = new Attempt{this, std::move(then)};
  attempt->timeout = g_timeout_source_new(static_cast<guint>(limits.call.count()));
  g_source_set_callback(
      attempt->timeout,
      [](gpointer data) -> gboolean {
        g_cancellable_cancel(static_cast<GCancellable*>(data));
        return G_SOURCE_REMOVE;
      },
      attempt->cancel, nullptr);
  g_source_attach(attempt->timeout, context);
  g_dbus_connection_new_for_address(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, attempt->cancel,
      [](GObject*, GAsyncResult* result, gpointer data) {
        auto* attempt = static_cast<Attempt*>(data);
        g_source_destroy(attempt->timeout);
        g_source_unref(attempt->timeout);
        g_object_unref(attempt->cancel);
        GError* error = nullptr;
        GDBusConnection* made = g_dbus_connection_new_for_address_finish(result, &error);
        if (error) g_error_free(error);
        if (made) attempt->bus->connected(made);
        auto then = std::move(attempt->then);
        delete attempt;
        then(made != nullptr);
      },
      attempt);
}

void PortalHotKeys::Bus::request(const char* method, const std::string& token, GVariant* parameters,
                                 std::function<void(Answer)> done) {
  struct Waiting {
    Bus* bus;
    std::function<void(Answer)> done;
    guint subscription = 0;
  };
  const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
  auto* waiting = new Waiting{this, std::move(done)};
  auto subscribe = [this, waiting](const char* at) {
    waiting->subscription = g_dbus_connection_signal_subscribe(
        connection, nullptr, "org.freedesktop.portal.Request", "Response", at, nullptr,
        G_DBUS_SIGNAL_FLAGS_NO_MATCH_RULE,
        [](GDBusConnection* connection, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer data) {
          auto* waiting = static_cast<Waiting*>(data);
          g_dbus_connection_signal_unsubscribe(connection, waiting->subscription);
          Answer answer;
          answer.delivered = true;
          if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})")))
            g_variant_get(parameters, "(u@a{sv})", &answer.response, &answer.results);
          auto done = std::move(waiting->done);
          delete waiting;
          done(std::move(answer));
        },
        waiting, nullptr);
  };
  subscribe(path.c_str());
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      connection, portal::name, portal::path, portal::shortcutsInterface, method, parameters,
      G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(limits.call.count()),
      nullptr, &error);
  if (!reply) {
    g_dbus_connection_signal_unsubscribe(connection, waiting->subscription);
    Answer answer;
    answer.error = error ? error->message : "no reply";
    if (error) {
      gchar* remote = g_dbus_error_get_remote_error(error);
      const std::string name = remote ? remote : "";
      g_free(remote);
      answer.missing = name == "org.freedesktop.DBus.Error.UnknownMethod" ||
                       name == "org.freedesktop.DBus.Error.UnknownInterface" ||
                       name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
                       name == "org.freedesktop.DBus.Error.NameHasNoOwner";
      g_dbus_error_strip_remote_error(error);
      answer.error = error->message;
      g_error_free(error);
    }
    auto done = std::move(waiting->done);
    delete waiting;
    return done(std::move(answer));
  }
  const gchar* handle = nullptr;
  g_variant_get(reply, "(&o)", &handle);
  // Portals older than the request-path convention answer on a path of their choosing.
  if (path != handle) {
    g_dbus_connection_signal_unsubscribe(connection, waiting->subscription);
    subscribe(handle);
  }
  g_variant_unref(reply);
}

}  // namespace earshot::linux_platform
