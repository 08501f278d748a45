#include "platform/linux/PulseEngine.hpp"

#include <algorithm>
#include <utility>

#include "async/Co.hpp"
#include "platform/PlatformError.hpp"

namespace earshot::linux_platform {

namespace {

constexpr const char* domain = "PulseAudio";
// About 20 ms per piece: without it the server fills two seconds before it sends anything.
constexpr pa_usec_t fragment = 20 * PA_USEC_PER_MSEC;

}  // namespace

PulseEngine::~PulseEngine() {
  Lock lock(*connection_, false);
  release();
}

std::optional<PulseSource> PulseEngine::source() {
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
  if (delivering_)
    recut_ = true;
  else
    recut();
}

void PulseEngine::recut() {
  chunks_.reset();
  if (source_ && tapFormat_.channelCount == source_->channels)
    chunks_.emplace(tapFormat_, tapSize_);
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
  const timeval at = pulseAfter(pulseAnswerLimit);
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
  forgetCallbacks(stream_);
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
  if (stream_) forgetCallbacks(stream_);
  connection_->postConfigurationChanged(weak_from_this());
}

void PulseEngine::connectionLost() {
  fail();
}

void PulseEngine::defaultIs(const PulseSource& source) {
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
  if (std::exchange(e->recut_, false)) e->recut();
  if (std::exchange(e->stopAsked_, false)) {
    // Inside the stream's own callback: ended here, freed by the main thread later.
    e->connection_->detach(e);
    forgetCallbacks(s);
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

}  // namespace earshot::linux_platform
