#include "support/FakeCapture.hpp"

#include <cmath>

namespace earshot::testing {

FakeCapture::FakeCapture(MainLoop& loop) : loop_(loop) {}

AudioEngineRef FakeCapture::makeEngine() {
  EngineScript script = defaults;
  if (!scripts.empty()) {
    script = scripts.front();
    scripts.pop_front();
  }
  auto engine = std::make_shared<FakeCaptureEngine>(std::move(script), counts_, enginesMade());
  made_.push_back(engine);
  return engine;
}

Co<bool> FakeCapture::requestPermission() {
  if (state == Permission::authorized) co_return true;
  if (state != Permission::undetermined) co_return false;
  ++prompts_;
  const bool given = answer;
  if (answerDelay > Duration{0}) co_await sleep(answerDelay);
  state = given ? Permission::authorized : Permission::denied;
  co_return given;
}

void FakeCapture::addDefaultInputListener(std::function<void()> listener) {
  inputListeners_.push_back(std::move(listener));
}

void FakeCapture::addConfigurationListener(
    std::function<void(const AudioEngine& engine)> listener) {
  configurationListeners_.push_back(std::move(listener));
}

void FakeCapture::fireDefaultInputChanged() {
  loop_.post([this] {
    auto listeners = inputListeners_;
    for (auto& listener : listeners) listener();
  });
}

void FakeCapture::fireConfigurationChanged(const AudioEngine& engine) {
  // The platform names the engine; one that is gone by delivery is not reported.
  std::weak_ptr<FakeCaptureEngine> named;
  for (const auto& weak : made_)
    if (auto e = weak.lock(); e.get() == &engine) named = e;
  loop_.post([this, named] {
    auto e = named.lock();
    if (!e) return;
    auto listeners = configurationListeners_;
    for (auto& listener : listeners) listener(*e);
  });
}

std::shared_ptr<FakeCaptureEngine> FakeCapture::engine(int n) const {
  if (n < 0 || n >= enginesMade()) return nullptr;
  return made_[static_cast<std::size_t>(n)].lock();
}

int FakeCapture::enginesAlive() const {
  int alive = 0;
  for (const auto& weak : made_) alive += weak.expired() ? 0 : 1;
  return alive;
}

FakeCaptureEngine::FakeCaptureEngine(FakeCapture::EngineScript script,
                                     std::shared_ptr<FakeCaptureCounts> counts, int number)
    : script_(std::move(script)),
      counts_(std::move(counts)),
      number_(number),
      startsLeftToFail_(script_.failingStarts) {}

AudioFormat FakeCaptureEngine::outputFormat() {
  std::lock_guard guard(lock_);
  ++counts_->formatReads;
  return script_.output.value_or(AudioFormat{});
}

AudioFormat FakeCaptureEngine::inputFormat() {
  std::lock_guard guard(lock_);
  ++counts_->formatReads;
  return script_.input.value_or(script_.output.value_or(AudioFormat{}));
}

void FakeCaptureEngine::setFormats(std::optional<AudioFormat> output,
                                   std::optional<AudioFormat> input) {
  std::lock_guard guard(lock_);
  script_.output = output;
  script_.input = input;
}

void FakeCaptureEngine::installTap(std::uint32_t bufferSize, const AudioFormat& format, Tap tap) {
  std::lock_guard guard(lock_);
  ++counts_->taps;
  tap_ = std::make_shared<Tap>(std::move(tap));
  tapSize_ = bufferSize;
  tapFormat_ = format;
}

void FakeCaptureEngine::removeTap() {
  std::lock_guard guard(lock_);
  ++counts_->tapRemovals;
  tap_.reset();
}

void FakeCaptureEngine::prepare() {
  ++counts_->prepares;
}

void FakeCaptureEngine::start() {
  std::lock_guard guard(lock_);
  ++counts_->starts;
  if (startsLeftToFail_ != 0) {
    if (startsLeftToFail_ > 0) --startsLeftToFail_;
    ++counts_->failedStarts;
    throw script_.startError;
  }
  running_ = true;
}

void FakeCaptureEngine::stop() {
  std::lock_guard guard(lock_);
  ++counts_->stops;
  running_ = false;
}

void FakeCaptureEngine::halt() {
  std::lock_guard guard(lock_);
  running_ = false;
}

bool FakeCaptureEngine::isRunning() const {
  std::lock_guard guard(lock_);
  return running_;
}

bool FakeCaptureEngine::hasTap() const {
  std::lock_guard guard(lock_);
  return tap_ != nullptr;
}

std::uint32_t FakeCaptureEngine::tapSize() const {
  std::lock_guard guard(lock_);
  return tapSize_;
}

AudioFormat FakeCaptureEngine::tapFormat() const {
  std::lock_guard guard(lock_);
  return tapFormat_;
}

int FakeCaptureEngine::feed(int buffers, float level) {
  int fed = 0;
  for (int i = 0; i < buffers; ++i) {
    std::lock_guard guard(lock_);
    if (!running_ || !tap_ || tapSize_ == 0) break;
    auto buffer = PcmBuffer::make(tapFormat_, tapSize_);
    if (!buffer) break;
    buffer->setFrameLength(tapSize_);
    const auto& planes = buffer->floatChannelData();
    const std::uint32_t channels = tapFormat_.interleaved ? 1 : tapFormat_.channelCount;
    const std::uint32_t samples =
        tapFormat_.interleaved ? tapSize_ * tapFormat_.channelCount : tapSize_;
    for (std::uint32_t c = 0; c < channels; ++c)
      for (std::uint32_t s = 0; s < samples; ++s)
        planes[c][s] =
            level * static_cast<float>(std::sin(0.05 * static_cast<double>(frames_ + s)));
    // A copy: the tap may remove or replace itself.
    auto tap = tap_;
    (*tap)(buffer, frames_);
    frames_ += tapSize_;
    ++counts_->buffersFed;
    ++fed;
  }
  return fed;
}

Timer FakeCaptureEngine::feedEvery(MainLoop& loop, Duration interval, float level) {
  // Holds the engine weakly: a released engine is fed no more.
  return loop.every(interval, [weak = weak_from_this(), level] {
    if (auto engine = weak.lock()) engine->feed(1, level);
  });
}

}  // namespace earshot::testing
