// The speech input's engine: permission, warming up, attaching a take, and surviving changes of
// the default microphone.

#include "platform/Platform.hpp"
#include "speech/SpeechInput.hpp"
#include "speech/Take.hpp"

namespace earshot {

namespace {

constexpr std::uint32_t tapFrames = 2048;
// Device events come in bursts; one settle step handles a whole burst.
constexpr double settleDelay = 0.3;
// An engine being replaced may still be finishing a callback.
constexpr double oldEngineGrace = 2.0;
// A capturing take is moved to a new engine at most this many times.
constexpr int moveAttempts = 3;

bool sameShape(const AudioFormat& a, const AudioFormat& b) {
  return a.sampleRate == b.sampleRate && a.channelCount == b.channelCount;
}

bool usable(const AudioFormat& format) {
  return format.sampleRate > 0 && format.channelCount > 0;
}

}  // namespace

Co<bool> SpeechInput::microphoneAllowed() {
  switch (platform_.capture.permission()) {
    case CaptureService::Permission::authorized:
      co_return true;
    case CaptureService::Permission::undetermined:
      co_return co_await platform_.capture.requestPermission();
    default:
      co_return false;
  }
}

bool SpeechInput::microphoneUndecided() const {
  return platform_.capture.permission() == CaptureService::Permission::undetermined;
}

void SpeechInput::warmUp() {
  watchDevices();
  if (platform_.capture.permission() == CaptureService::Permission::authorized)
    (void)engine()->outputFormat();
}

AudioEngineRef& SpeechInput::engine() {
  if (!engine_) engine_ = platform_.capture.makeEngine();
  return engine_;
}

void SpeechInput::watchDevices() {
  if (watching_) return;
  watching_ = true;
  std::weak_ptr<SpeechInput> weak = weak_from_this();
  platform_.capture.addDefaultInputListener([weak] {
    if (auto speech = weak.lock()) speech->inputChanged();
  });
  platform_.capture.addConfigurationListener([weak](const AudioEngine& changed) {
    // Only the current engine matters; one that was replaced is on its way out.
    if (auto speech = weak.lock(); speech && speech->engine_.get() == &changed)
      speech->inputChanged();
  });
}

void SpeechInput::inputChanged() {
  stale_ = true;
  if (settling_) return;
  settling_ = true;
  std::weak_ptr<SpeechInput> weak = weak_from_this();
  platform_.loop.after(seconds(settleDelay), [weak] {
    if (auto speech = weak.lock()) speech->settle();
  });
}

void SpeechInput::settle() {
  settling_ = false;
  if (!stale_) return;
  if (!current_) {
    rebuild();
    return;
  }
  // A running engine keeps its take; the next opening rebuilds it.
  if (engine()->isRunning() || current_->reopened_ >= moveAttempts) return;
  ++current_->reopened_;
  engine_->removeTap();
  engine_->stop();
  try {
    listen(*current_);
  } catch (...) {
    inputChanged();
  }
}

void SpeechInput::rebuild() {
  if (engine_) {
    platform_.loop.after(seconds(oldEngineGrace), [old = std::move(engine_)] {});
  }
  engine_ = platform_.capture.makeEngine();
  stale_ = false;
  if (platform_.capture.permission() == CaptureService::Permission::authorized)
    (void)engine_->outputFormat();
}

void SpeechInput::listen(Take& take) {
  if (!take.tap_) throw Failure::notRunning();
  if (stale_) rebuild();
  AudioFormat output = engine()->outputFormat();
  AudioFormat input = engine_->inputFormat();
  if (!sameShape(output, input)) {
    rebuild();
    output = engine_->outputFormat();
    input = engine_->inputFormat();
  }
  if (!usable(output) || !usable(input)) throw Failure::noMicrophone();
  if (!sameShape(output, input)) {
    stale_ = true;
    throw Failure::notRunning();
  }
  engine_->removeTap();
  engine_->installTap(tapFrames, output, take.tap_);
  engine_->prepare();
  try {
    engine_->start();
  } catch (...) {
    engine_->removeTap();
    stale_ = true;
    throw;
  }
}

void SpeechInput::stopCapture(TakeRef take) {
  if (current_ != take) return;
  engine()->removeTap();
  engine_->stop();
  current_.reset();
  if (stale_) inputChanged();
}

}  // namespace earshot
