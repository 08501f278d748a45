// The capture engine against a private PulseAudio daemon: what reaches the tap, stopping, a new
// default source, a server that dies and comes back, and no server at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/PlatformError.hpp"
#include "platform/linux/PulseCapture.hpp"
#include "support/AudioFiles.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/SimulatedLoop.hpp"
#include "support/TemporaryFolder.hpp"

using namespace earshot;
using namespace earshot::testing;
using namespace std::chrono_literals;
using linux_platform::PulseCapture;

namespace {

const std::string& recording = speechRecording;

// Standard error of this process goes to a file while a test runs.
class StandardError {
 public:
  explicit StandardError(const std::string& path) {
    saved_ = fcntl(2, F_DUPFD_CLOEXEC, 0);
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    close(file);
    path_ = path;
  }
  ~StandardError() { restore(); }
  std::string restore() {
    if (saved_ >= 0) {
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
    std::ifstream in(path_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  int saved_ = -1;
  std::string path_;
};

// What the tap received, written on the capture thread.
struct Received {
  std::mutex lock;
  int buffers = 0;
  int loud = 0;  // buffers with a peak above 0.01
  std::vector<std::uint32_t> lengths;
  std::vector<AudioFormat> formats;
  std::vector<std::uint64_t> stamps;
  std::atomic<int> calls{0};
  std::atomic<bool> inside{false};

  AudioEngine::Tap tap(std::chrono::microseconds linger = 0us) {
    return [this, linger](const PcmBufferRef& buffer, std::uint64_t stamp) {
      inside = true;
      float peak = 0;
      for (std::uint32_t c = 0; c < buffer->format().channelCount; ++c)
        for (std::uint32_t i = 0; i < buffer->frameLength(); ++i)
          peak = std::max(peak, std::fabs(buffer->floatChannelData()[c][i]));
      {
        std::lock_guard guard(lock);
        ++buffers;
        if (peak > 0.01f) ++loud;
        lengths.push_back(buffer->frameLength());
        formats.push_back(buffer->format());
        stamps.push_back(stamp);
      }
      if (linger > 0us) std::this_thread::sleep_for(linger);
      ++calls;
      inside = false;
    };
  }
  int loudCount() {
    std::lock_guard guard(lock);
    return loud;
  }
};

class PulseCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override { error_ = std::make_unique<StandardError>(folder_.file("stderr")); }
  void TearDown() override {
    capture_.reset();
    for (const auto& [name, value] : applied_) unsetenv(name.c_str());
    EXPECT_EQ(error_->restore(), "");
  }

  // This process reaches `server` only.
  void use(const PulseServer& server) { use(server.environment()); }
  void use(const std::map<std::string, std::string>& environment) {
    applied_ = environment;
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
  }

  PulseCapture& capture() {
    if (!capture_) {
      capture_ = std::make_unique<linux_platform::PulseCapture>(loop_);
      capture_->addDefaultInputListener([this] {
        onLoop_ = onLoop_ && loop_.onLoopThread();
        ++inputChanges_;
      });
      capture_->addConfigurationListener([this](const AudioEngine& engine) {
        onLoop_ = onLoop_ && loop_.onLoopThread();
        changed_.push_back(&engine);
      });
    }
    return *capture_;
  }

  bool serveUntil(const std::function<bool()>& done, Duration limit = 10s) {
    return settle(loop_, done, limit);
  }

  TemporaryFolder folder_;
  MainLoop loop_;
  std::unique_ptr<StandardError> error_;
  std::map<std::string, std::string> applied_;
  std::unique_ptr<linux_platform::PulseCapture> capture_;
  int inputChanges_ = 0;
  std::vector<const AudioEngine*> changed_;
  bool onLoop_ = true;
};

std::string synthesized(const TemporaryFolder& folder) {
  const std::string path = folder.file("speech.wav");
  run(programPath("flite"),
      {"-voice", "slt", "-t", "turn on the lights in the kitchen please", "-o", path});
  return path;
}

struct SourceCase {
  const char* name;
  unsigned rate, channels;
  bool synthesize;  // a flite sentence, else a recording
};

class SpeechReachesTheTap : public PulseCaptureTest,
                            public ::testing::WithParamInterface<SourceCase> {};

TEST_P(SpeechReachesTheTap, AsWholeBuffersInTheSourcesFormat) {
  const auto& row = GetParam();
  PulseServer server({{"mic", row.rate, row.channels}});
  ASSERT_TRUE(server.running());
  use(server);
  auto engine = capture().makeEngine();
  const auto format = engine->outputFormat();
  EXPECT_EQ(format.sampleRate, row.rate);
  EXPECT_EQ(format.channelCount, row.channels);
  EXPECT_FALSE(format.interleaved);
  EXPECT_EQ(engine->inputFormat(), format);

  Received got;
  engine->installTap(2048, format, got.tap());
  engine->prepare();
  engine->start();
  EXPECT_TRUE(engine->isRunning());
  server.play(row.synthesize ? synthesized(folder_) : recording, "mic");
  ASSERT_TRUE(serveUntil([&] { return got.loudCount() >= 5; }));
  engine->stop();
  EXPECT_FALSE(engine->isRunning());

  std::lock_guard guard(got.lock);
  for (std::size_t i = 0; i < got.lengths.size(); ++i) {
    EXPECT_EQ(got.lengths[i], 2048u) << i;
    EXPECT_EQ(got.formats[i].sampleRate, row.rate);
    EXPECT_EQ(got.formats[i].channelCount, row.channels);
    // Nothing lost or repeated between buffers.
    EXPECT_EQ(got.stamps[i], 2048u * i) << i;
  }
  EXPECT_EQ(inputChanges_, 0);
  EXPECT_TRUE(changed_.empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, SpeechReachesTheTap,
                         ::testing::Values(SourceCase{"StereoSentence", 44100, 2, true},
                                           SourceCase{"MonoRecording", 48000, 1, false},
                                           SourceCase{"SixChannels", 16000, 6, false}),
                         [](const auto& info) { return std::string(info.param.name); });

class EndingCapture : public PulseCaptureTest, public ::testing::WithParamInterface<bool> {};

// Once stop or removeTap has returned, the tap is not running and never runs again.
TEST_P(EndingCapture, IsSynchronous) {
  const bool stopping = GetParam();
  PulseServer server;
  ASSERT_TRUE(server.running());
  use(server);
  auto engine = capture().makeEngine();
  Received got;
  // A tap that takes its time widens the window in which a late call would show.
  engine->installTap(256, engine->outputFormat(), got.tap(3ms));
  engine->start();
  server.play(recording, "mic");
  ASSERT_TRUE(serveUntil([&] { return got.calls >= 20; }));
  if (stopping)
    engine->stop();
  else
    engine->removeTap();
  EXPECT_FALSE(got.inside);
  const int calls = got.calls;
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(got.calls, calls);
  EXPECT_EQ(engine->isRunning(), !stopping);
}

INSTANTIATE_TEST_SUITE_P(Ways, EndingCapture, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Stop" : "RemoveTap"; });

class EndingFromTheTap : public PulseCaptureTest, public ::testing::WithParamInterface<bool> {};

// A tap that stops its engine or removes itself neither deadlocks nor is called again.
TEST_P(EndingFromTheTap, IsTheLastCall) {
  const bool stopping = GetParam();
  PulseServer server;
  ASSERT_TRUE(server.running());
  use(server);
  auto engine = capture().makeEngine();
  std::atomic<int> calls{0};
  AudioEngine* raw = engine.get();
  const auto format = engine->outputFormat();
  engine->installTap(256, format, [&](const PcmBufferRef&, std::uint64_t) {
    if (++calls != 5) return;
    if (stopping)
      raw->stop();
    else
      raw->removeTap();
  });
  engine->start();
  ASSERT_TRUE(serveUntil([&] { return calls >= 5; }));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(engine->isRunning(), !stopping);
  // And capture goes on when asked again from the main thread.
  engine->installTap(256, format, [&](const PcmBufferRef&, std::uint64_t) { ++calls; });
  engine->start();
  EXPECT_TRUE(serveUntil([&] { return calls > 5; }));
  engine->stop();
}

INSTANTIATE_TEST_SUITE_P(Ways, EndingFromTheTap, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Stop" : "RemoveTap"; });

struct SwitchCase {
  const char* name;
  unsigned rate, channels;  // of the new default source
  bool unplug;              // the old default goes away, rather than being set aside
};

class SwitchingTheDefaultSource : public PulseCaptureTest,
                                  public ::testing::WithParamInterface<SwitchCase> {};

// The server moves the stream to the new default and converts to its format: capture goes on
// from the new source, and the listeners hear of the change.
TEST_P(SwitchingTheDefaultSource, CaptureGoesOnFromTheNewOne) {
  const auto& row = GetParam();
  PulseServer server({{"first", 44100, 2}, {"second", row.rate, row.channels}});
  ASSERT_TRUE(server.running());
  use(server);
  auto engine = capture().makeEngine();
  const auto format = engine->outputFormat();
  Received got;
  engine->installTap(2048, format, got.tap());
  engine->start();
  // Only the new source hears anything.
  server.play(recording, "second");
  ASSERT_TRUE(serveUntil([&] { return got.calls >= 3; }));
  EXPECT_EQ(got.loudCount(), 0);

  if (row.unplug)
    ASSERT_TRUE(server.removeSink("first"));
  else
    ASSERT_TRUE(server.setDefaultSource(PulseServer::monitorOf("second")));
  ASSERT_TRUE(serveUntil([&] { return inputChanges_ > 0; }));
  EXPECT_TRUE(serveUntil([&] { return got.loudCount() >= 3; }));
  EXPECT_TRUE(engine->isRunning());
  EXPECT_TRUE(changed_.empty());
  std::lock_guard guard(got.lock);
  for (const auto& received : got.formats) EXPECT_EQ(received.sampleRate, format.sampleRate);
  EXPECT_TRUE(onLoop_);
}

INSTANTIATE_TEST_SUITE_P(Sources, SwitchingTheDefaultSource,
                         ::testing::Values(SwitchCase{"SameFormat", 44100, 2, false},
                                           SwitchCase{"OtherFormat", 48000, 1, false},
                                           SwitchCase{"OldOneUnplugged", 44100, 2, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// With nowhere to move it, the server ends the stream: the engine stops and says so.
TEST_F(PulseCaptureTest, UnpluggingTheOnlySourceStopsTheEngine) {
  PulseServer server;
  ASSERT_TRUE(server.running());
  use(server);
  auto engine = capture().makeEngine();
  Received got;
  engine->installTap(2048, engine->outputFormat(), got.tap());
  engine->start();
  ASSERT_TRUE(serveUntil([&] { return got.calls >= 2; }));
  ASSERT_TRUE(server.removeSink("mic"));
  ASSERT_TRUE(serveUntil([&] { return !changed_.empty() && inputChanges_ > 0; }));
  EXPECT_EQ(changed_[0], engine.get());
  EXPECT_FALSE(engine->isRunning());
  EXPECT_EQ(capture().makeEngine()->outputFormat(), AudioFormat{});
}

TEST_F(PulseCaptureTest, ServerThatDiesStopsTheEngineAndALaterEngineWorksAgain) {
  PulseServer server;
  ASSERT_TRUE(server.running());
  use(server);
  auto engine = capture().makeEngine();
  Received got;
  engine->installTap(2048, engine->outputFormat(), got.tap());
  engine->start();
  ASSERT_TRUE(serveUntil([&] { return got.calls >= 2; }));

  server.kill();
  // The engine's change, and the microphone gone.
  ASSERT_TRUE(serveUntil([&] { return !changed_.empty() && inputChanges_ > 0; }));
  EXPECT_EQ(changed_[0], engine.get());
  EXPECT_FALSE(engine->isRunning());
  EXPECT_EQ(capture().makeEngine()->outputFormat().sampleRate, 0);

  const int before = inputChanges_;
  ASSERT_TRUE(server.restart());
  // The connection comes back by itself and says so.
  ASSERT_TRUE(serveUntil([&] { return inputChanges_ > before; }));
  auto next = capture().makeEngine();
  Received again;
  next->installTap(2048, next->outputFormat(), again.tap());
  next->start();
  server.play(recording, "mic");
  EXPECT_TRUE(serveUntil([&] { return again.loudCount() >= 3; }));
  next->stop();
  EXPECT_EQ(changed_.size(), 1u);
  EXPECT_TRUE(onLoop_);
}

// A socket that accepts connections and never says a word.
class MuteServer {
 public:
  explicit MuteServer(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 16);
    // The kernel completes connections on the backlog; nobody ever reads them.
  }
  ~MuteServer() {
    for (int fd : kept_) close(fd);
    close(fd_);
  }
  // Connections made so far (each accepted and kept open, unanswered).
  int connections() {
    for (int fd; (fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) kept_.push_back(fd);
    return static_cast<int>(kept_.size());
  }

 private:
  int fd_;
  std::vector<int> kept_;
};

class WithoutAServer : public PulseCaptureTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WithoutAServer, ThereIsNoMicrophone) {
  const bool mute = GetParam();
  const std::string socket = folder_.file("native");
  std::optional<MuteServer> server;
  if (mute) server.emplace(socket);
  std::ofstream(folder_.file("client.conf")) << "autospawn = no\n";
  use({{"PULSE_SERVER", "unix:" + socket},
       {"PULSE_CLIENTCONFIG", folder_.file("client.conf")},
       {"PULSE_COOKIE", folder_.file("cookie")}});
  auto engine = capture().makeEngine();
  EXPECT_EQ(engine->outputFormat(), AudioFormat{});
  EXPECT_EQ(engine->inputFormat(), AudioFormat{});
  Received got;
  engine->installTap(2048, engine->outputFormat(), got.tap());
  EXPECT_THROW(engine->start(), PlatformError);
  EXPECT_FALSE(engine->isRunning());
  engine->stop();
  engine->removeTap();
  EXPECT_EQ(capture().permission(), CaptureService::Permission::authorized);
}

// A server that never answers is tried again with a growing pause, not in a tight loop.
TEST_F(PulseCaptureTest, ServerThatNeverAnswersIsRetriedWithABackOff) {
  const std::string socket = folder_.file("native");
  MuteServer server(socket);
  std::ofstream(folder_.file("client.conf")) << "autospawn = no\n";
  use({{"PULSE_SERVER", "unix:" + socket},
       {"PULSE_CLIENTCONFIG", folder_.file("client.conf")},
       {"PULSE_COOKIE", folder_.file("cookie")}});
  auto engine = capture().makeEngine();
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(engine->outputFormat(), AudioFormat{});
    std::this_thread::sleep_for(100ms);
  }
  // Three seconds and more: a tight loop would have made thousands.
  EXPECT_GE(server.connections(), 2);
  EXPECT_LE(server.connections(), 6);
}

INSTANTIATE_TEST_SUITE_P(Servers, WithoutAServer, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Mute" : "Absent"; });

}  // namespace
