#include "platform/linux/PortalHotKeys.hpp"

#include <gio/gio.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <future>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/GLibSilence.hpp"
#include "platform/linux/X11KeyMap.hpp"

// Last: Xlib defines macros such as None and Status.
#include <X11/Xlib.h>

namespace earshot::linux_platform {

namespace {

constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* shortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* shortcutId = "push-to-talk";
constexpr const char* shortcutDescription = "Push to talk";
// Stable, so that desktops that keep bindings per session token find ours again.
constexpr const char* sessionToken = "earshot";

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The session bus of the environment, never one started on demand (GIO would run dbus-launch,
// which waits on the X display).
std::string sessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
    return address;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    const std::string socket = std::string(runtime) + "/bus";
    struct stat info {};
    if (stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return "unix:path=" + socket;
  }
  return {};
}

// What a request to the portal came to.
struct Answer {
  bool delivered = false;  // false: the call itself failed, `error` says why
  bool missing = false;    // the portal or its interface is not there at all
  guint32 response = 2;
  GVariant* results = nullptr;  // owned
  std::string error;
};

}  // namespace

// The bus connection and everything done on it, on a thread of its own that runs a GLib main
// context. Members below `thread` are touched on that thread only.
struct PortalHotKeys::Bus {
  struct Outcome {
    StatusCode status = 0;
    std::string detail;
    std::string trigger;
  };

  Bus(std::string address, Limits limits) : address(std::move(address)), limits(limits) {
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

  ~Bus() {
    run([this] { g_main_loop_quit(glibLoop); });
    thread.join();
    g_main_loop_unref(glibLoop);
    g_main_context_unref(context);
  }

  // Runs `work` on the bus thread.
  void run(std::function<void()> work) {
    g_main_context_invoke_full(
        context, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          (*static_cast<std::function<void()>*>(data))();
          return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  }

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

  // --- on the bus thread ---

  void drop() {
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

  void forgetSession() {
    if (connection && sessionClosed)
      g_dbus_connection_signal_unsubscribe(connection, sessionClosed);
    sessionClosed = 0;
    session.clear();
  }

  bool connected() const { return connection && !g_dbus_connection_is_closed(connection); }

  // Connects to the bus if need be, then calls `then` with whether it is connected.
  void connect(std::function<void(bool)> then) {
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

  void connected(GDBusConnection* made) {
    connection = made;
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    std::string unique = g_dbus_connection_get_unique_name(connection);
    if (!unique.empty() && unique[0] == ':') unique.erase(0, 1);
    std::replace(unique.begin(), unique.end(), '.', '_');
    sender = unique;
    for (const char* name : {"Activated", "Deactivated"}) {
      subscriptions.push_back(g_dbus_connection_signal_subscribe(
          connection, nullptr, shortcutsInterface, name, portalPath, nullptr,
          G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onShortcut, this, nullptr));
    }
    subscriptions.push_back(g_dbus_connection_signal_subscribe(
        connection, nullptr, shortcutsInterface, "ShortcutsChanged", portalPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onShortcutsChanged, this, nullptr));
    subscriptions.push_back(g_dbus_connection_signal_subscribe(
        connection, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", portalName, G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onOwner, this,
        nullptr));
    closedHandler = g_signal_connect(connection, "closed", G_CALLBACK(&Bus::onClosed), this);
    // Newer portals know a process outside a sandbox by what its host registered; older ones
    // have no registry and answer with an error, which changes nothing.
    if (const char* id = std::getenv("EARSHOT_APP_ID"); id && *id) {
      GVariant* reply = g_dbus_connection_call_sync(
          connection, portalName, portalPath, "org.freedesktop.host.portal.Registry", "Register",
          g_variant_new("(s@a{sv})", id, g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
          nullptr, G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(limits.call.count()), nullptr,
          nullptr);
      if (reply) g_variant_unref(reply);
    }
  }

  static void onShortcut(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                         const gchar* signal, GVariant* parameters, gpointer data) {
    auto* bus = static_cast<Bus*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
    const gchar* session = nullptr;
    const gchar* id = nullptr;
    g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
    if (bus->session.empty() || bus->session != session || std::string(id) != shortcutId) return;
    // The portal's timestamps are not to be trusted (zero on some desktops): the main loop's
    // clock times the hold.
    if (bus->onActivated) bus->onActivated(std::string(signal) == "Activated");
  }

  static void onShortcutsChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar*, GVariant* parameters, gpointer data) {
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
        if (std::string(id) == shortcutId && bus->onChanged) {
          if (!g_variant_lookup(properties, "trigger_description", "&s", &text)) text = "";
          bus->onChanged(text);
        }
        g_variant_unref(properties);
      }
    }
    g_variant_iter_free(shortcuts);
  }

  static void onOwner(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                      GVariant* parameters, gpointer data) {
    auto* bus = static_cast<Bus*>(data);
    const gchar* newOwner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &newOwner);
    if (newOwner && *newOwner) return;
    bus->sessionGone("the desktop portal left the bus");
  }

  static void onSessionClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar*, GVariant*, gpointer data) {
    static_cast<Bus*>(data)->sessionGone("the desktop closed the shortcut session");
  }

  static void onClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    static_cast<Bus*>(data)->sessionGone("the session bus went away");
  }

  void sessionGone(const std::string& why) {
    const bool had = !session.empty();
    forgetSession();
    // A bind under way would be granted in a session that is no more.
    if (binding) std::exchange(binding, nullptr)({lost, why, {}});
    if (had && onLost) onLost(why);
  }

  // Makes a portal request: subscribes to its Response first, then calls `method`.
  void request(const char* method, const std::string& token, GVariant* parameters,
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
    GVariant* reply =
        g_dbus_connection_call_sync(connection, portalName, portalPath, shortcutsInterface, method,
                                    parameters, G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                                    static_cast<gint>(limits.call.count()), nullptr, &error);
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

  std::string token() { return "earshot" + std::to_string(++nextToken); }

  static GVariant* shortcuts(const std::string& trigger) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "description",
                          g_variant_new_string(shortcutDescription));
    g_variant_builder_add(&options, "{sv}", "preferred_trigger",
                          g_variant_new_string(trigger.c_str()));
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    g_variant_builder_add(&list, "(s@a{sv})", shortcutId, g_variant_builder_end(&options));
    return g_variant_builder_end(&list);
  }

  static Outcome failure(const Answer& answer, const char* what) {
    if (!answer.delivered) {
      if (answer.missing) return {unavailable, "the desktop portal has no global shortcuts", {}};
      return {refused, std::string("the desktop portal refused ") + what + ": " + answer.error, {}};
    }
    if (answer.response == 1) return {refused, std::string("the user declined ") + what, {}};
    return {refused, std::string("the desktop portal refused ") + what, {}};
  }

  // Opens the session if there is none, binds the shortcut with `trigger` as its preferred
  // trigger (on every start: some desktops forget shortcuts that are only listed), and hands the
  // outcome to `done`.
  // Only the latest bind answers, once: a late answer to an older one, or one after the session
  // was lost, is dropped.
  void bind(const std::string& trigger, std::function<void(Outcome)> answer) {
    binding = std::move(answer);
    auto done = [this, generation = ++binds](Outcome outcome) {
      if (generation == binds && binding) std::exchange(binding, nullptr)(std::move(outcome));
    };
    connect([this, trigger, done](bool ok) {
      if (!ok) return done({unavailable, "no session bus", {}});
      if (!session.empty()) return bindInSession(trigger, done);
      GVariantBuilder options;
      g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
      g_variant_builder_add(&options, "{sv}", "handle_token",
                            g_variant_new_string(token().c_str()));
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
            connection, nullptr, "org.freedesktop.portal.Session", "Closed", session.c_str(),
            nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onSessionClosed, this, nullptr);
        bindInSession(trigger, done);
      });
    });
  }

  std::string lastToken() const { return "earshot" + std::to_string(nextToken); }

  void bindInSession(const std::string& trigger, std::function<void(Outcome)> done) {
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
          if (std::string(id) == shortcutId) {
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
      if (trimmed(description).empty())
        return done({refused, "the desktop assigned the shortcut no trigger", {}});
      done({0, {}, description});
    });
  }

  // Whether the portal speaks GlobalShortcuts: its interface's version can be read.
  void probe(std::function<void(bool)> done) {
    connect([this, done](bool ok) {
      if (!ok) return done(false);
      GVariant* reply = g_dbus_connection_call_sync(
          connection, portalName, portalPath, "org.freedesktop.DBus.Properties", "Get",
          g_variant_new("(ss)", shortcutsInterface, "version"), G_VARIANT_TYPE("(v)"),
          G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(limits.call.count()), nullptr, nullptr);
      if (reply) g_variant_unref(reply);
      done(reply != nullptr);
    });
  }

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

PortalHotKeys::PortalHotKeys(MainLoop& loop, std::string address, Limits limits)
    : loop_(loop),
      bus_(std::make_shared<Bus>(address.empty() ? sessionBusAddress() : std::move(address),
                                 limits)) {
  std::weak_ptr<bool> alive = alive_;
  bus_->onActivated = [this, alive](bool pressed) {
    loop_.post([this, alive, pressed] {
      if (alive.lock()) activated(pressed);
    });
  };
  bus_->onChanged = [this, alive](std::string description) {
    loop_.post([this, alive, description] {
      if (alive.lock()) changed(description);
    });
  };
  bus_->onLost = [this, alive](std::string why) {
    loop_.post([this, alive, why] {
      if (alive.lock()) lose(why);
    });
  };
}

PortalHotKeys::~PortalHotKeys() {
  alive_.reset();
  bus_.reset();
}

bool PortalHotKeys::answers() {
  Bus* bus = bus_.get();
  const auto answer = bus->await<bool>(
      [bus](std::function<void(bool)> done) { bus->probe(std::move(done)); }, bus->limits.call * 3);
  return answer.value_or(false);
}

HotKeyService::StatusCode PortalHotKeys::install(Sink sink) {
  if (!answers()) {
    detail_ = "no desktop portal with global shortcuts answers";
    return unavailable;
  }
  sink_ = std::move(sink);
  return 0;
}

bool PortalHotKeys::installed() const {
  return static_cast<bool>(sink_);
}

HotKeyService::Registration PortalHotKeys::add(VoiceKeyCombo combo, Identifier identifier) {
  detail_.clear();
  if (combo.keyCode == VoiceKeyCombo::escapeKey) {
    detail_ = "Escape is never bound on the desktop";
    return {notOffered, {}};
  }
  if (bound_ || pending_) return {alreadyRegistered, {}};
  const std::string wanted = preferredTrigger(combo);
  if (wanted.empty()) return {notOffered, {}};
  Bus* bus = bus_.get();
  const auto outcome = bus->await<Bus::Outcome>(
      [bus, wanted](std::function<void(Bus::Outcome)> done) { bus->bind(wanted, std::move(done)); },
      bus->limits.call * 2 + bus->limits.answer);
  if (!outcome) {
    detail_ = "the desktop portal did not answer in time";
    return {unavailable, {}};
  }
  if (outcome->status != 0) {
    detail_ = outcome->detail;
    return {outcome->status, {}};
  }
  const Handle handle = nextHandle_++;
  bound_ = Bound{handle, identifier, {outcome->trigger, chordOf(outcome->trigger)}};
  return {0, handle};
}

void PortalHotKeys::addThen(VoiceKeyCombo combo, Identifier identifier, Added done) {
  detail_.clear();
  if (combo.keyCode == VoiceKeyCombo::escapeKey) {
    detail_ = "Escape is never bound on the desktop";
    return done({notOffered, {}});
  }
  if (bound_ || pending_) return done({alreadyRegistered, {}});
  const std::string wanted = preferredTrigger(combo);
  if (wanted.empty()) return done({notOffered, {}});
  const std::uint64_t attempt = ++attempts_;
  std::weak_ptr<bool> alive = alive_;
  Bus* bus = bus_.get();
  // The bus thread's own bounds end every step; this one ends the wait as a whole, as the
  // waiting add() does.
  Timer timeout = loop_.after(bus->limits.call * 2 + bus->limits.answer, [this, alive, attempt] {
    if (alive.lock()) settle(attempt, unavailable, "the desktop portal did not answer in time", {});
  });
  pending_ = Pending{attempt, identifier, std::move(done), timeout};
  bus->run([this, bus, alive, attempt, wanted] {
    bus->bind(wanted, [this, alive, attempt](Bus::Outcome outcome) {
      loop_.post([this, alive, attempt, outcome] {
        if (alive.lock()) settle(attempt, outcome.status, outcome.detail, outcome.trigger);
      });
    });
  });
}

void PortalHotKeys::settle(std::uint64_t attempt, StatusCode status, const std::string& detail,
                           const std::string& description) {
  if (!pending_ || pending_->attempt != attempt) return;
  Pending pending = std::move(*pending_);
  pending_.reset();
  pending.timeout.cancel();
  if (status != 0) {
    detail_ = detail;
    return pending.done({status, {}});
  }
  const Handle handle = nextHandle_++;
  bound_ = Bound{handle, pending.identifier, {description, chordOf(description)}};
  pending.done({0, handle});
}

void PortalHotKeys::remove(Handle handle) {
  // The desktop keeps the binding; events for it are dropped until it is registered again.
  if (bound_ && bound_->handle == handle) bound_.reset();
}

std::optional<HotKeyService::Trigger> PortalHotKeys::trigger(Handle handle) const {
  if (bound_ && bound_->handle == handle) return bound_->trigger;
  return std::nullopt;
}

void PortalHotKeys::activated(bool pressed) {
  // Repeats come as further activations; the hot key above filters them.
  if (bound_ && sink_) sink_(bound_->identifier, pressed);
}

void PortalHotKeys::lose(const std::string& detail) {
  if (!bound_) return;
  bound_.reset();
  if (lostSink_) lostSink_(detail);
}

void PortalHotKeys::changed(const std::string& description) {
  if (!bound_ || bound_->trigger.description == description) return;
  bound_->trigger = {trimmed(description).empty() ? std::string() : description,
                     chordOf(description)};
  if (changedSink_) changedSink_();
}

std::string PortalHotKeys::preferredTrigger(VoiceKeyCombo combo) {
  const auto keysym = keysymFor(combo.keyCode);
  const char* name = keysym ? XKeysymToString(*keysym) : nullptr;
  if (!name) return {};
  std::string text;
  if (combo.modifiers & VoiceKeyCombo::control) text += "CTRL+";
  if (combo.modifiers & VoiceKeyCombo::option) text += "ALT+";
  if (combo.modifiers & VoiceKeyCombo::shift) text += "SHIFT+";
  if (combo.modifiers & VoiceKeyCombo::command) text += "LOGO+";
  return text + name;
}

std::optional<VoiceKeyCombo> PortalHotKeys::chordOf(const std::string& description) {
  std::vector<std::string> words;
  std::stringstream in(description);
  for (std::string word; std::getline(in, word, '+');) words.push_back(lowered(trimmed(word)));
  if (words.empty() || words.back().empty()) return std::nullopt;
  std::optional<std::uint32_t> keyCode;
  for (std::uint32_t code : knownKeyCodes()) {
    const auto keysym = keysymFor(code);
    const char* name = keysym ? XKeysymToString(*keysym) : nullptr;
    if (name && lowered(name) == words.back()) keyCode = code;
  }
  if (!keyCode) return std::nullopt;
  std::uint32_t modifiers = 0;
  for (std::size_t k = 0; k + 1 < words.size(); ++k) {
    const std::string& w = words[k];
    std::uint32_t bit = 0;
    if (w == "ctrl" || w == "control") bit = VoiceKeyCombo::control;
    if (w == "alt" || w == "option" || w == "mod1") bit = VoiceKeyCombo::option;
    if (w == "shift") bit = VoiceKeyCombo::shift;
    if (w == "logo" || w == "super" || w == "meta" || w == "mod4") bit = VoiceKeyCombo::command;
    if (!bit || (modifiers & bit)) return std::nullopt;
    modifiers |= bit;
  }
  return VoiceKeyCombo{*keyCode, modifiers};
}

}  // namespace earshot::linux_platform
