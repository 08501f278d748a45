#pragma once

// The process's one connection to the sound server: the threaded main loop and its thread (the
// capture thread), the reconnect back-off, and the default source. Private to the PulseAudio
// back end.

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "async/MainLoop.hpp"
#include "platform/Capture.hpp"

namespace earshot::linux_platform {

// Every wait on the server; one that accepts and never answers counts as absent.
inline constexpr std::chrono::milliseconds pulseAnswerLimit{1000};

struct PulseSource {
  std::string name;
  double rate = 0;
  std::uint32_t channels = 0;
  // The source's own: recording in it spares the server a remix.
  pa_channel_map map{};
};

// The wall-clock time `span` from now, for the main loop's timer events.
timeval pulseAfter(std::chrono::milliseconds span);

// No callback of `stream` / `context` reaches its owner any more (which may be inside one).
void forgetCallbacks(pa_stream* stream);
void forgetCallbacks(pa_context* context);

class PulseEngine;

// Everything is guarded by the threaded main loop's lock, except the listener lists (main
// thread).
class PulseConnection : public std::enable_shared_from_this<PulseConnection> {
 public:
  explicit PulseConnection(MainLoop& loop) : loop_(loop) {}
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  MainLoop& loop() { return loop_; }

  // Starts the thread on first use. Always succeeds or leaves `ml_` null.
  pa_threaded_mainloop* mainloop();
  pa_threaded_mainloop* existing() const { return ml_; }
  bool inThread() const { return ml_ && pa_threaded_mainloop_in_thread(ml_); }

  // With the lock held (once, by a thread other than the capture thread): the default source,
  // connecting first when needed. Absent without a server or source, or when the server does
  // not answer in time.
  // `wait` false: what is known now, without waiting (a connection may be started).
  std::optional<PulseSource> defaultSource(bool wait = true);
  pa_context* context() { return link_ == Link::ready ? ctx_ : nullptr; }

  // Waits, with the lock held once, until `done` holds or `limit` passes.
  bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
  void signal() { pa_threaded_mainloop_signal(ml_, 0); }

  void attach(PulseEngine* engine) { engines_.push_back(engine); }
  void detach(PulseEngine* engine) { std::erase(engines_, engine); }

  // Main thread.
  void addInputListener(std::function<void()> listener);
  void addConfigurationListener(std::function<void(const AudioEngine&)> listener);
  // Any thread: the listeners run on the main loop.
  void postInputChanged();
  void postConfigurationChanged(std::weak_ptr<PulseEngine> engine);

 private:
  enum class Link { idle, connecting, ready, waiting };

  static constexpr std::chrono::milliseconds firstRetry{200};
  static constexpr std::chrono::milliseconds lastRetry{3200};
  // The main thread may try at once when the last attempt is this old, instead of waiting for
  // the back-off timer.
  static constexpr std::chrono::milliseconds eagerGap{250};

  void connect();
  void lost();
  void scheduleRetry();
  void refreshDefault();
  void commitDefault(PulseSource source);

  static void onContextState(pa_context* c, void* self);
  static void onEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t, void* self);
  static void onServerInfo(pa_context* c, const pa_server_info* info, void* self);
  static void onSourceInfo(pa_context* c, const pa_source_info* info, int eol, void* self);
  static void onRetry(pa_mainloop_api* api, pa_time_event* e, const timeval*, void* self);
  static void onConnectDeadline(pa_mainloop_api* api, pa_time_event* e, const timeval*, void* self);

  MainLoop& loop_;
  pa_threaded_mainloop* ml_ = nullptr;
  pa_context* ctx_ = nullptr;
  // A context that failed inside its own callback; released on the next attempt.
  pa_context* dead_ = nullptr;
  Link link_ = Link::idle;
  pa_time_event* retry_ = nullptr;
  pa_time_event* deadline_ = nullptr;
  std::chrono::milliseconds backoff_ = firstRetry;
  std::chrono::steady_clock::time_point lastAttempt_{};
  // A connection was refused or lost: the next one that comes up is news to the listeners.
  bool missed_ = false;
  // The last attempt ended at its deadline.
  bool timedOut_ = false;
  // The default source is known for the current connection.
  bool known_ = false;
  PulseSource default_;
  PulseSource pending_;
  std::vector<PulseEngine*> engines_;
  std::vector<std::function<void()>> inputListeners_;
  std::vector<std::function<void(const AudioEngine&)>> configurationListeners_;
};

}  // namespace earshot::linux_platform
