#pragma once

// One record stream on the default source, in 32-bit float at the source's own rate and channel
// count, cut into the tap's pieces. Private to the PulseAudio back end.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/Capture.hpp"
#include "platform/linux/PulseConnection.hpp"
#include "platform/linux/Rechunker.hpp"

namespace earshot::linux_platform {

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
  void defaultIs(const PulseSource& source);

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
  std::optional<PulseSource> source();
  void release();
  void fail();
  // A new cutter for the tap's size and format; none while the source's channels differ.
  void recut();
  void deliver(const void* data, std::size_t bytes);

  static void onStreamState(pa_stream* s, void* self);
  static void onRead(pa_stream* s, std::size_t bytes, void* self);
  static void onCreationDeadline(pa_mainloop_api* api, pa_time_event* e, const timeval*,
                                 void* self);
  void dropDeadline();

  std::shared_ptr<PulseConnection> connection_;
  // Fixed at the first answer: like a hardware input node, an engine keeps one format.
  std::optional<PulseSource> source_;
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

}  // namespace earshot::linux_platform
