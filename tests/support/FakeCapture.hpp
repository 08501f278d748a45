#pragma once

// A scripted capture service for component tests in virtual time: engines with the formats and
// start failures a test sets, a permission with a scripted answer, device and configuration
// events fired on demand, and a feeder that pushes buffers into the installed tap.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "async/Co.hpp"
#include "platform/Capture.hpp"
#include "platform/PlatformError.hpp"

namespace earshot::testing {

class FakeCaptureEngine;

// What the fake counts, shared with its engines (which may outlive it).
struct FakeCaptureCounts {
  std::atomic<int> starts{0}, failedStarts{0}, stops{0}, taps{0}, tapRemovals{0}, prepares{0},
      formatReads{0}, buffersFed{0};
};

class FakeCapture final : public CaptureService {
 public:
  struct EngineScript {
    std::optional<AudioFormat> output = AudioFormat::make(48000, 2);
    // Absent: the same as the output format.
    std::optional<AudioFormat> input;
    // How many starts fail (-1: every one), and with what.
    int failingStarts = 0;
    PlatformError startError{"com.apple.coreaudio.avfaudio", -10868, "The engine cannot start."};
  };

  explicit FakeCapture(MainLoop& loop);

  // The scripts of the engines made next, one each, in order; after them, `defaults`.
  std::deque<EngineScript> scripts;
  EngineScript defaults;

  // The permission; while undetermined, a prompt answers `answer` after `answerDelay` of loop
  // time and the permission becomes authorized or denied.
  Permission state = Permission::authorized;
  bool answer = true;
  Duration answerDelay{0};
  int prompts() const { return prompts_; }

  AudioEngineRef makeEngine() override;
  Permission permission() override { return state; }
  Co<bool> requestPermission() override;
  void addDefaultInputListener(std::function<void()> listener) override;
  void addConfigurationListener(std::function<void(const AudioEngine& engine)> listener) override;

  // Posted to the loop, as the platform delivers them.
  void fireDefaultInputChanged();
  void fireConfigurationChanged(const AudioEngine& engine);

  // Engines made so far; the n-th one (from 0) while it is alive; how many are alive.
  int enginesMade() const { return static_cast<int>(made_.size()); }
  std::shared_ptr<FakeCaptureEngine> engine(int n) const;
  std::shared_ptr<FakeCaptureEngine> latest() const { return engine(enginesMade() - 1); }
  int enginesAlive() const;
  int listeners() const { return static_cast<int>(inputListeners_.size()); }

  const FakeCaptureCounts& counts() const { return *counts_; }

 private:
  MainLoop& loop_;
  std::shared_ptr<FakeCaptureCounts> counts_ = std::make_shared<FakeCaptureCounts>();
  std::vector<std::weak_ptr<FakeCaptureEngine>> made_;
  std::vector<std::function<void()>> inputListeners_;
  std::vector<std::function<void(const AudioEngine&)>> configurationListeners_;
  int prompts_ = 0;
};

class FakeCaptureEngine final : public AudioEngine,
                                public std::enable_shared_from_this<FakeCaptureEngine> {
 public:
  FakeCaptureEngine(FakeCapture::EngineScript script, std::shared_ptr<FakeCaptureCounts> counts,
                    int number);

  AudioFormat outputFormat() override;
  AudioFormat inputFormat() override;
  void installTap(std::uint32_t bufferSize, const AudioFormat& format, Tap tap) override;
  void removeTap() override;
  void prepare() override;
  void start() override;
  void stop() override;
  bool isRunning() const override;

  // The test's side. Which engine this is (0 for the first one made).
  int number() const { return number_; }
  // Changes the formats it reports from now on.
  void setFormats(std::optional<AudioFormat> output, std::optional<AudioFormat> input = {});
  // Stops it without being asked, as hardware that went away does (no event: fire it).
  void halt();

  bool hasTap() const;
  std::uint32_t tapSize() const;
  AudioFormat tapFormat() const;

  // Calls the tap `buffers` times from the calling thread with buffers of the requested size in
  // the requested format, holding a sine of peak `level`. Only while running with a tap; gives
  // how many buffers went in. removeTap and stop wait for a tap call under way.
  int feed(int buffers = 1, float level = 0.25f);
  // Feeds one buffer every `interval` of loop time, on the loop, until the timer is cancelled.
  Timer feedEvery(MainLoop& loop, Duration interval, float level = 0.25f);

 private:
  FakeCapture::EngineScript script_;
  std::shared_ptr<FakeCaptureCounts> counts_;
  int number_;
  // Held around every tap call; recursive so that a tap may remove itself.
  mutable std::recursive_mutex lock_;
  std::shared_ptr<Tap> tap_;
  std::uint32_t tapSize_ = 0;
  AudioFormat tapFormat_;
  bool running_ = false;
  int startsLeftToFail_;
  std::uint64_t frames_ = 0;
};

}  // namespace earshot::testing
