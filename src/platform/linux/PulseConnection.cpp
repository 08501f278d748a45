#include "platform/linux/PulseConnection.hpp"

#include <algorithm>
#include <cstdlib>

#include "platform/linux/PulseEngine.hpp"

namespace earshot::linux_platform {

namespace {

// libpulse writes its messages (errors always) to standard error. Only an environment variable,
// read once at its first message, sends them elsewhere: it is set for that first message (a
// context made and dropped at once) and then taken back, so that children never see it. A
// user's own choice of syslog or the journal is kept.
void silenceLibpulse() {
  if (std::getenv("PULSE_LOG_SYSLOG") || std::getenv("PULSE_LOG_JOURNAL")) return;
  setenv("PULSE_LOG_SYSLOG", "1", 1);
  if (pa_mainloop* probe = pa_mainloop_new()) {
    if (pa_context* context = pa_context_new(pa_mainloop_get_api(probe), "earshot"))
      pa_context_unref(context);
    pa_mainloop_free(probe);
  }
  unsetenv("PULSE_LOG_SYSLOG");
}

}  // namespace

timeval pulseAfter(std::chrono::milliseconds span) {
  timeval tv;
  pa_gettimeofday(&tv);
  pa_timeval_add(&tv, static_cast<pa_usec_t>(span.count()) * PA_USEC_PER_MSEC);
  return tv;
}

void forgetCallbacks(pa_stream* stream) {
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_set_read_callback(stream, nullptr, nullptr);
}

void forgetCallbacks(pa_context* context) {
  pa_context_set_state_callback(context, nullptr, nullptr);
  pa_context_set_subscribe_callback(context, nullptr, nullptr);
}

PulseConnection::~PulseConnection() {
  if (!ml_) return;
  pa_threaded_mainloop_lock(ml_);
  auto* api = pa_threaded_mainloop_get_api(ml_);
  if (retry_) api->time_free(retry_);
  if (deadline_) api->time_free(deadline_);
  for (auto* c : {ctx_, dead_}) {
    if (!c) continue;
    forgetCallbacks(c);
    pa_context_disconnect(c);
    pa_context_unref(c);
  }
  pa_threaded_mainloop_unlock(ml_);
  pa_threaded_mainloop_stop(ml_);
  pa_threaded_mainloop_free(ml_);
}

pa_threaded_mainloop* PulseConnection::mainloop() {
  // Only the main thread creates it; the capture thread exists only after.
  if (ml_) return ml_;
  silenceLibpulse();
  auto* ml = pa_threaded_mainloop_new();
  if (!ml) return nullptr;
  pa_threaded_mainloop_set_name(ml, "earshot-capture");
  if (pa_threaded_mainloop_start(ml) < 0) {
    pa_threaded_mainloop_free(ml);
    return nullptr;
  }
  ml_ = ml;
  return ml_;
}

bool PulseConnection::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  if (done()) return true;
  // The capture thread serves the answers: it cannot wait for them.
  if (inThread()) return false;
  struct Alarm {
    pa_threaded_mainloop* ml;
    bool rang = false;
  } alarm{ml_};
  auto* api = pa_threaded_mainloop_get_api(ml_);
  const timeval at = pulseAfter(limit);
  pa_time_event* event = api->time_new(
      api, &at,
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
        auto* a = static_cast<Alarm*>(user);
        a->rang = true;
        pa_threaded_mainloop_signal(a->ml, 0);
      },
      &alarm);
  while (!done() && !alarm.rang) pa_threaded_mainloop_wait(ml_);
  api->time_free(event);
  return done();
}

std::optional<PulseSource> PulseConnection::defaultSource(bool wait) {
  if (!ml_) return std::nullopt;
  const auto now = std::chrono::steady_clock::now();
  // A server that did not answer in time is left to the back-off: each try would cost a second.
  if (link_ == Link::idle ||
      (link_ == Link::waiting && !timedOut_ && now - lastAttempt_ >= eagerGap)) {
    if (retry_) {
      pa_threaded_mainloop_get_api(ml_)->time_free(retry_);
      retry_ = nullptr;
    }
    connect();
  }
  if (wait) waitFor([this] { return known_ || link_ == Link::waiting; }, pulseAnswerLimit);
  if (!known_ || default_.name.empty()) return std::nullopt;
  return default_;
}

void PulseConnection::connect() {
  auto* api = pa_threaded_mainloop_get_api(ml_);
  if (dead_) {
    pa_context_unref(dead_);
    dead_ = nullptr;
  }
  lastAttempt_ = std::chrono::steady_clock::now();
  timedOut_ = false;
  known_ = false;
  ctx_ = pa_context_new(api, "earshot");
  if (!ctx_) {
    scheduleRetry();
    return;
  }
  pa_context_set_state_callback(ctx_, onContextState, this);
  pa_context_set_subscribe_callback(ctx_, onEvent, this);
  link_ = Link::connecting;
  pa_context* context = ctx_;
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    // A failure reported at once may already have gone through the state callback.
    if (ctx_ == context) lost();
    return;
  }
  if (ctx_ != context) return;
  // A server that accepts and never answers counts as absent, and is tried again later.
  const timeval at = pulseAfter(pulseAnswerLimit);
  deadline_ = api->time_new(api, &at, onConnectDeadline, this);
}

void PulseConnection::scheduleRetry() {
  link_ = Link::waiting;
  known_ = false;
  auto* api = pa_threaded_mainloop_get_api(ml_);
  if (retry_) api->time_free(retry_);
  const timeval at = pulseAfter(backoff_);
  retry_ = api->time_new(api, &at, onRetry, this);
  backoff_ = std::min(backoff_ * 2, lastRetry);
  signal();
}

void PulseConnection::lost() {
  auto* api = pa_threaded_mainloop_get_api(ml_);
  if (deadline_) {
    api->time_free(deadline_);
    deadline_ = nullptr;
  }
  const bool hadSource = known_ && !default_.name.empty();
  if (ctx_) {
    forgetCallbacks(ctx_);
    pa_context_disconnect(ctx_);
    // Possibly inside its own callback: freed on the next attempt.
    if (dead_) pa_context_unref(dead_);
    dead_ = ctx_;
    ctx_ = nullptr;
  }
  auto engines = engines_;
  for (auto* engine : engines) engine->connectionLost();
  default_ = {};
  missed_ = true;
  scheduleRetry();
  if (hadSource) postInputChanged();
}

void PulseConnection::onRetry(pa_mainloop_api* api, pa_time_event* e, const timeval*, void* self) {
  auto* c = static_cast<PulseConnection*>(self);
  api->time_free(e);
  c->retry_ = nullptr;
  c->connect();
}

void PulseConnection::onConnectDeadline(pa_mainloop_api* api, pa_time_event* e, const timeval*,
                                        void* self) {
  auto* c = static_cast<PulseConnection*>(self);
  api->time_free(e);
  c->deadline_ = nullptr;
  if (c->known_) return;
  c->lost();
  c->timedOut_ = true;
}

void PulseConnection::onContextState(pa_context* context, void* self) {
  auto* c = static_cast<PulseConnection*>(self);
  if (context != c->ctx_) return;
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      c->link_ = Link::ready;
      c->backoff_ = firstRetry;
      if (auto* op = pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
        pa_operation_unref(op);
      c->refreshDefault();
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      c->lost();
      break;
    default:
      break;
  }
  c->signal();
}

void PulseConnection::onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t,
                              void* self) {
  auto* c = static_cast<PulseConnection*>(self);
  if (context != c->ctx_) return;
  if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER)
    c->refreshDefault();
}

void PulseConnection::refreshDefault() {
  if (auto* op = pa_context_get_server_info(ctx_, onServerInfo, this)) pa_operation_unref(op);
}

void PulseConnection::onServerInfo(pa_context* context, const pa_server_info* info, void* self) {
  auto* c = static_cast<PulseConnection*>(self);
  if (context != c->ctx_) return;
  if (!info || !info->default_source_name || !*info->default_source_name) {
    c->commitDefault({});
    return;
  }
  if (auto* op = pa_context_get_source_info_by_name(context, info->default_source_name,
                                                    onSourceInfo, self))
    pa_operation_unref(op);
  else
    c->commitDefault({});
}

void PulseConnection::onSourceInfo(pa_context* context, const pa_source_info* info, int eol,
                                   void* self) {
  auto* c = static_cast<PulseConnection*>(self);
  if (context != c->ctx_) return;
  // One reply gives the source and then the end; replies come in the order asked.
  if (info) {
    c->pending_ = {info->name ? info->name : "", static_cast<double>(info->sample_spec.rate),
                   info->sample_spec.channels, info->channel_map};
    return;
  }
  // The end, or an error (the source went away meanwhile).
  PulseSource found = eol > 0 ? std::move(c->pending_) : PulseSource{};
  c->pending_ = {};
  c->commitDefault(std::move(found));
}

void PulseConnection::commitDefault(PulseSource source) {
  const bool first = !known_;
  const bool changed = !first && source.name != default_.name;
  default_ = std::move(source);
  known_ = true;
  if (deadline_) {
    pa_threaded_mainloop_get_api(ml_)->time_free(deadline_);
    deadline_ = nullptr;
  }
  auto engines = engines_;
  for (auto* engine : engines) engine->defaultIs(default_);
  if (changed || (first && missed_)) postInputChanged();
  missed_ = false;
  signal();
}

void PulseConnection::addInputListener(std::function<void()> listener) {
  inputListeners_.push_back(std::move(listener));
}

void PulseConnection::addConfigurationListener(std::function<void(const AudioEngine&)> listener) {
  configurationListeners_.push_back(std::move(listener));
}

void PulseConnection::postInputChanged() {
  loop_.post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    auto listeners = self->inputListeners_;
    for (auto& listener : listeners) listener();
  });
}

void PulseConnection::postConfigurationChanged(std::weak_ptr<PulseEngine> engine) {
  loop_.post([weak = weak_from_this(), engine = std::move(engine)] {
    auto self = weak.lock();
    auto which = engine.lock();
    if (!self || !which) return;
    auto listeners = self->configurationListeners_;
    for (auto& listener : listeners) listener(*which);
  });
}

}  // namespace earshot::linux_platform
