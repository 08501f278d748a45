// The speech input's engine: permission, warming up, attaching a take, and surviving changes of
// the default microphone.

#include <algorithm>

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
// A capturing take is moved to a new engine as long as it lasts: the first moves come one
// settle step apart, then further apart each time, up to the longest pause (a sound server that is
// gone a long while is tried about every three seconds).
constexpr int quickMoves = 3;
constexpr double longestMovePause = 3.2;

double movePause(int attempts) {
  if (attempts < quickMoves) return settleDelay;
  return std::min(settleDelay * double(1 << std::min(attempts - quickMoves + 1, 8)),
                  longestMovePause);
}

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
  // Waits for the audio service off the main thread.
  if (platform_.capture.permission() == CaptureService::Permission::authorized)
    spawn(engine()->ready(), platform_.loop);
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
  const double pause = current_ ? movePause(current_->reopened_) : settleDelay;
  std::weak_ptr<SpeechInput> weak = weak_from_this();
  platform_.loop.after(seconds(pause), [weak] {
    if (auto speech = weak.lock()) speech->settle();
  });
}

void SpeechInput::settle() {
  settling_ = false;
  if (!stale_ || moving_) return;
  if (!current_) {
    rebuild();
    return;
  }
  // A running engine keeps its take; the next opening rebuilds it.
  if (engine()->isRunning()) return;
  ++current_->reopened_;
  engine_->removeTap();
  engine_->stop();
  spawn(move(current_), platform_.loop);
}

Co<void> SpeechInput::move(TakeRef take) {
  auto self = shared_from_this();
  moving_ = true;
  rebuild(false);
  // The new engine asks the audio service off the main thread; releases and commands go on.
  AudioEngineRef hearer = engine_;
  auto asking = hearer->ready();
  co_await std::move(asking);
  moving_ = false;
  if (current_ != take) co_return;  // ended or replaced meanwhile
  if (!tryListen(*take)) inputChanged();
}

bool SpeechInput::tryListen(Take& take) {
  try {
    listen(take);
    return true;
  } catch (...) {
    return false;
  }
}

void SpeechInput::rebuild(bool warm) {
  if (engine_) {
    platform_.loop.after(seconds(oldEngineGrace), [old = std::move(engine_)] {});
  }
  engine_ = platform_.capture.makeEngine();
  stale_ = false;
  if (warm && platform_.capture.permission() == CaptureService::Permission::authorized)
    spawn(engine_->ready(), platform_.loop);
}

void SpeechInput::listen(Take& take) {
  if (!take.tap_) throw Failure::notRunning();
  if (stale_) rebuild(false);
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
