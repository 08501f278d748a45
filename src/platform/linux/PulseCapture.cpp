#include "platform/linux/PulseCapture.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "async/Co.hpp"
#include "platform/PlatformError.hpp"
#include "platform/linux/Rechunker.hpp"

namespace earshot::linux_platform {

namespace {

constexpr const char* domain = "PulseAudio";
// Every wait on the server; one that accepts and never answers counts as absent.
constexpr std::chrono::milliseconds answerLimit{1000};
// About 20 ms per piece: without it the server fills two seconds before it sends anything.
constexpr pa_usec_t fragment = 20 * PA_USEC_PER_MSEC;
constexpr std::chrono::milliseconds firstRetry{200};
constexpr std::chrono::milliseconds lastRetry{3200};
// The main thread may try at once when the last attempt is this old, instead of waiting for the
// back-off timer.
constexpr std::chrono::milliseconds eagerGap{250};

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

struct Source {
  std::string name;
  double rate = 0;
  std::uint32_t channels = 0;
  // The source's own: recording in it spares the server a remix.
  pa_channel_map map{};
};

timeval after(std::chrono::milliseconds span) {
  timeval tv;
  pa_gettimeofday(&tv);
  pa_timeval_add(&tv, static_cast<pa_usec_t>(span.count()) * PA_USEC_PER_MSEC);
  return tv;
}

}  // namespace

class PulseEngine;

// The process's one connection to the sound server, and the thread that serves it. Everything
// below is guarded by the threaded main loop's lock, except the listener lists (main thread).
class PulseConnection : public std::enable_shared_from_this<PulseConnection> {
 public:
  explicit PulseConnection(MainLoop& loop) : loop_(loop) {}
  ~PulseConnection();

  MainLoop& loop() { return loop_; }

  // Starts the thread on first use. Always succeeds or leaves `ml_` null.
  pa_threaded_mainloop* mainloop();
  pa_threaded_mainloop* existing() const { return ml_; }
  bool inThread() const { return ml_ && pa_threaded_mainloop_in_thread(ml_); }

  // With the lock held (once, by a thread other than the capture thread): the default source,
  // connecting first when needed. Absent without a server or source, or when the server does
  // not answer in time.
  // `wait` false: what is known now, without waiting (a connection may be started).
  std::optional<Source> defaultSource(bool wait = true);
  pa_context* context() { return link_ == Link::ready ? ctx_ : nullptr; }

  // Waits, with the lock held once, until `done` holds or `limit` passes.
  bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
  void signal() { pa_threaded_mainloop_signal(ml_, 0); }

  void attach(PulseEngine* engine) { engines_.push_back(engine); }
  void detach(PulseEngine* engine) { std::erase(engines_, engine); }

  // Main thread.
  std::vector<std::function<void()>> inputListeners;
  std::vector<std::function<void(const AudioEngine&)>> configurationListeners;
  void postInputChanged();
  void postConfigurationChanged(std::weak_ptr<PulseEngine> engine);

 private:
  enum class Link { idle, connecting, ready, waiting };

  void connect();
  void lost();
  void scheduleRetry();
  void refreshDefault();
  void commitDefault(Source source);

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
  Source default_;
  Source pending_;
  std::vector<PulseEngine*> engines_;
};

// One record stream on the default source.
class PulseEngine final : public AudioEngine, public std::enable_shared_from_this<PulseEngine> {
 public:
  explicit PulseEngine(std::shared_ptr<PulseConnection> connection)
      : connection_(std::move(connection)) {}
  ~PulseEngine() override;

  AudioFormat outputFormat() override { return format(); }
  AudioFormat inputFormat() override { return format(); }
  void installTap(std::uint32_t bufferSize, const AudioFormat& format, Tap tap) override;
  void removeTap() override;
  void prepare() override;
  void start() override;
  void stop() override;
  bool isRunning() const override { return running_; }
  Co<void> ready() override;

  // Capture thread, lock held: the connection went away, or the default source is now
  // `source`.
  void connectionLost();
  void defaultIs(const Source& source);

 private:
  // The threaded loop's lock. The capture thread already holds it in every callback (and may
  // not take it again): a call from a tap locks nothing.
  class Lock {
   public:
    explicit Lock(PulseConnection& c, bool create = true)
        : ml_(create ? c.mainloop() : c.existing()) {
      if (ml_ && pa_threaded_mainloop_in_thread(ml_)) ml_ = nullptr;
      if (ml_) pa_threaded_mainloop_lock(ml_);
    }
    ~Lock() {
      if (ml_) pa_threaded_mainloop_unlock(ml_);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* ml_;
  };

  AudioFormat format();
  // Lock held. Waits for the server until ready() has asked it once.
  std::optional<Source> source();
  void release();
  void fail();
  void deliver(const void* data, std::size_t bytes);

  static void onStreamState(pa_stream* s, void* self);
  static void onRead(pa_stream* s, std::size_t bytes, void* self);
  static void onCreationDeadline(pa_mainloop_api* api, pa_time_event* e, const timeval*,
                                 void* self);
  void dropDeadline();

  std::shared_ptr<PulseConnection> connection_;
  // Fixed at the first answer: like a hardware input node, an engine keeps one format.
  std::optional<Source> source_;
  pa_stream* stream_ = nullptr;
  // A stream the server has not set up yet is given up at this event.
  pa_time_event* creating_ = nullptr;
  // ready() has had the server's answer: the main thread no longer waits for one.
  bool answered_ = false;
  std::atomic<bool> running_{false};
  std::shared_ptr<const Tap> tap_;
  std::uint32_t tapSize_ = 0;
  AudioFormat tapFormat_;
  std::optional<Rechunker> chunks_;
  // Inside the read callback, and a stop asked from the tap itself.
  bool delivering_ = false;
  bool stopAsked_ = false;
  bool recut_ = false;
};

// --- connection ---

PulseConnection::~PulseConnection() {
  if (!ml_) return;
  pa_threaded_mainloop_lock(ml_);
  auto* api = pa_threaded_mainloop_get_api(ml_);
  if (retry_) api->time_free(retry_);
  if (deadline_) api->time_free(deadline_);
  for (auto* c : {ctx_, dead_}) {
    if (!c) continue;
    pa_context_set_state_callback(c, nullptr, nullptr);
    pa_context_set_subscribe_callback(c, nullptr, nullptr);
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
  const timeval at = after(limit);
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

std::optional<Source> PulseConnection::defaultSource(bool wait) {
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
  if (wait) waitFor([this] { return known_ || link_ == Link::waiting; }, answerLimit);
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
  const timeval at = after(answerLimit);
  deadline_ = api->time_new(api, &at, onConnectDeadline, this);
}

void PulseConnection::scheduleRetry() {
  link_ = Link::waiting;
  known_ = false;
  auto* api = pa_threaded_mainloop_get_api(ml_);
  if (retry_) api->time_free(retry_);
  const timeval at = after(backoff_);
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
    pa_context_set_state_callback(ctx_, nullptr, nullptr);
    pa_context_set_subscribe_callback(ctx_, nullptr, nullptr);
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
  Source found = eol > 0 ? std::move(c->pending_) : Source{};
  c->pending_ = {};
  c->commitDefault(std::move(found));
}

void PulseConnection::commitDefault(Source source) {
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

void PulseConnection::postInputChanged() {
  loop_.post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    auto listeners = self->inputListeners;
    for (auto& listener : listeners) listener();
  });
}

void PulseConnection::postConfigurationChanged(std::weak_ptr<PulseEngine> engine) {
  loop_.post([weak = weak_from_this(), engine = std::move(engine)] {
    auto self = weak.lock();
    auto which = engine.lock();
    if (!self || !which) return;
    auto listeners = self->configurationListeners;
    for (auto& listener : listeners) listener(*which);
  });
}

// --- engine ---

PulseEngine::~PulseEngine() {
  Lock lock(*connection_, false);
  release();
}

std::optional<Source> PulseEngine::source() {
  if (!source_) source_ = connection_->defaultSource(!answered_);
  return source_;
}

Co<void> PulseEngine::ready() {
  {
    Lock lock(*connection_);
    if (source_) co_return;
  }
  // Connecting and asking for the default source may take the server's whole patience.
  auto asking = onBackground(
      [self = shared_from_this()] {
        Lock lock(*self->connection_);
        if (!self->source_) self->source_ = self->connection_->defaultSource(true);
        self->answered_ = true;
      },
      connection_->loop());
  co_await std::move(asking);
}

AudioFormat PulseEngine::format() {
  Lock lock(*connection_);
  if (auto s = source())
    if (auto f = AudioFormat::make(s->rate, s->channels)) return *f;
  return AudioFormat{};
}

void PulseEngine::installTap(std::uint32_t bufferSize, const AudioFormat& format, Tap tap) {
  Lock lock(*connection_);
  tap_ = std::make_shared<const Tap>(std::move(tap));
  tapSize_ = std::max<std::uint32_t>(bufferSize, 1);
  tapFormat_ = format;
  tapFormat_.interleaved = false;
  // From the tap itself the cutter is in use: it is replaced once the piece is done.
  if (delivering_) {
    recut_ = true;
    return;
  }
  chunks_.reset();
  if (source_ && format.channelCount == source_->channels) chunks_.emplace(tapFormat_, tapSize_);
}

void PulseEngine::removeTap() {
  // Taps run with the lock held: once it is ours, none is running, and none runs after.
  Lock lock(*connection_);
  tap_.reset();
}

void PulseEngine::prepare() {
  Lock lock(*connection_);
  source();
}

void PulseEngine::start() {
  Lock lock(*connection_);
  if (running_) return;
  if (connection_->inThread())
    throw PlatformError(domain, PA_ERR_BADSTATE, "Capture cannot start from the capture thread.");
  release();
  const auto s = source();
  if (!s) throw PlatformError(domain, PA_ERR_NOENTITY, "There is no microphone.");
  if (tap_ && (tapFormat_.channelCount != s->channels || tapFormat_.sampleRate != s->rate))
    throw PlatformError(domain, PA_ERR_INVALID, "The tap's format differs from the input's.");
  pa_context* context = connection_->context();
  if (!context) throw PlatformError(domain, PA_ERR_CONNECTIONREFUSED, "The sound server is gone.");

  pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(s->rate),
                              static_cast<std::uint8_t>(s->channels)};
  pa_channel_map map = s->map;
  if (!pa_channel_map_compatible(&map, &sampleFormat))
    pa_channel_map_init_extend(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);
  stream_ = pa_stream_new(context, "earshot capture", &sampleFormat, &map);
  if (!stream_) {
    const int code = pa_context_errno(context);
    throw PlatformError(domain, code, pa_strerror(code));
  }
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragment, &sampleFormat));
  pa_stream_set_state_callback(stream_, onStreamState, this);
  pa_stream_set_read_callback(stream_, onRead, this);
  // No device: the stream follows the default source when the server moves it.
  if (pa_stream_connect_record(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
    const int code = pa_context_errno(context);
    release();
    throw PlatformError(domain, code, pa_strerror(code));
  }
  // Not waited for: a stream that fails, or that the server has not set up in time, stops the
  // engine and is reported as a configuration change, like one that fails later.
  auto* api = pa_threaded_mainloop_get_api(connection_->existing());
  const timeval at = after(answerLimit);
  creating_ = api->time_new(api, &at, onCreationDeadline, this);
  if (tap_ && !chunks_) chunks_.emplace(tapFormat_, tapSize_);
  connection_->attach(this);
  running_ = true;
}

void PulseEngine::stop() {
  Lock lock(*connection_);
  if (delivering_) {
    // Asked from the tap: the read callback ends the stream once the tap has returned.
    running_ = false;
    stopAsked_ = true;
    return;
  }
  release();
}

void PulseEngine::dropDeadline() {
  if (!creating_) return;
  pa_threaded_mainloop_get_api(connection_->existing())->time_free(creating_);
  creating_ = nullptr;
}

void PulseEngine::onCreationDeadline(pa_mainloop_api* api, pa_time_event* e, const timeval*,
                                     void* self) {
  auto* engine = static_cast<PulseEngine*>(self);
  api->time_free(e);
  engine->creating_ = nullptr;
  if (!engine->stream_ || pa_stream_get_state(engine->stream_) != PA_STREAM_CREATING) return;
  pa_stream* stream = engine->stream_;
  engine->fail();
  pa_stream_disconnect(stream);
}

void PulseEngine::release() {
  running_ = false;
  dropDeadline();
  connection_->detach(this);
  if (!stream_) return;
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  if (pa_stream_get_state(stream_) == PA_STREAM_READY ||
      pa_stream_get_state(stream_) == PA_STREAM_CREATING)
    pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
  // A later start counts its frames from zero again.
  if (chunks_) chunks_.emplace(tapFormat_, tapSize_);
}

void PulseEngine::fail() {
  // Capture thread. The stream stays referenced until the main thread releases it: this may be
  // inside its own callback.
  if (!running_) return;
  running_ = false;
  connection_->detach(this);
  if (stream_) {
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
  }
  connection_->postConfigurationChanged(weak_from_this());
}

void PulseEngine::connectionLost() {
  fail();
}

void PulseEngine::defaultIs(const Source& source) {
  if (!running_ || !stream_) return;
  // The server moves a stream without a device to the new default before it announces the
  // change, and converts to the stream's format, so capture goes on. A stream left behind (a
  // server that does not move it) ends here and is reported.
  const char* device = pa_stream_get_device_name(stream_);
  if (device && source.name == device) return;
  fail();
  pa_stream_disconnect(stream_);
}

void PulseEngine::onStreamState(pa_stream* s, void* self) {
  auto* e = static_cast<PulseEngine*>(self);
  if (s != e->stream_) return;
  const auto state = pa_stream_get_state(s);
  if (state != PA_STREAM_CREATING) e->dropDeadline();
  if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) e->fail();
  e->connection_->signal();
}

void PulseEngine::onRead(pa_stream* s, std::size_t, void* self) {
  auto* e = static_cast<PulseEngine*>(self);
  e->delivering_ = true;
  while (s == e->stream_ && !e->stopAsked_ && pa_stream_readable_size(s) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) break;
    // A hole (no data) is what the server lost; it is skipped.
    if (data) e->deliver(data, bytes);
    pa_stream_drop(s);
  }
  e->delivering_ = false;
  if (std::exchange(e->recut_, false)) {
    e->chunks_.reset();
    if (e->source_ && e->tapFormat_.channelCount == e->source_->channels)
      e->chunks_.emplace(e->tapFormat_, e->tapSize_);
  }
  if (std::exchange(e->stopAsked_, false)) {
    // Inside the stream's own callback: ended here, freed by the main thread later.
    e->connection_->detach(e);
    pa_stream_set_state_callback(s, nullptr, nullptr);
    pa_stream_set_read_callback(s, nullptr, nullptr);
    pa_stream_disconnect(s);
  }
}

void PulseEngine::deliver(const void* data, std::size_t bytes) {
  if (!chunks_ || !tap_) return;
  // A copy: the tap may replace or remove itself.
  auto tap = tap_;
  chunks_->push(data, bytes, [&](const PcmBufferRef& buffer, std::uint64_t first) {
    if (tap_ == tap && !stopAsked_) (*tap)(buffer, first);
  });
}

// --- service ---

PulseCapture::PulseCapture(MainLoop& loop) : connection_(std::make_shared<PulseConnection>(loop)) {}

PulseCapture::~PulseCapture() = default;

AudioEngineRef PulseCapture::makeEngine() {
  return std::make_shared<PulseEngine>(connection_);
}

Co<bool> PulseCapture::requestPermission() {
  co_return true;
}

void PulseCapture::addDefaultInputListener(std::function<void()> listener) {
  connection_->inputListeners.push_back(std::move(listener));
}

void PulseCapture::addConfigurationListener(
    std::function<void(const AudioEngine& engine)> listener) {
  connection_->configurationListeners.push_back(std::move(listener));
}

}  // namespace earshot::linux_platform
