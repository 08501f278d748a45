#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <nlohmann/json.hpp>

#include "cli/FileMode.hpp"
#include "platform/PlatformError.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "speech/SpeechInput.hpp"
#include "support/AudioFiles.hpp"
#include "support/FakeSpeech.hpp"

using namespace earshot;
using earshot::testing::FakeAnalyzer;
using earshot::testing::FakeSpeechService;

namespace {

class FileTranscription : public ::testing::Test {
 protected:
  void SetUp() override {
    SpeechInput::forgetReadiness();
    speechServices() = {&audio, &service};
    earshot::testing::writeWav(dir.file("tone.wav"), 44100, 2, std::vector<float>(44100 * 2, 0.1f));
  }
  void TearDown() override {
    speechServices() = {};
    SpeechInput::forgetReadiness();
  }
  linux_platform::LinuxAudioToolkit audio;
  FakeSpeechService service;
  earshot::testing::TemporaryFolder dir;
};

// Captures event lines written while it lives.
class CapturedOutput {
 public:
  CapturedOutput() {
    EXPECT_EQ(::pipe(fds_), 0);
    saved_ = output().fd;
    output().fd = fds_[1];
  }
  ~CapturedOutput() {
    output().fd = saved_;
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  nlohmann::json event() {
    std::string line;
    char c;
    while (::read(fds_[0], &c, 1) == 1 && c != '\n') line += c;
    return nlohmann::json::parse(line);
  }

 private:
  int fds_[2];
  int saved_ = 1;
};

}  // namespace

TEST_F(FileTranscription, FeedsEveryShapedBufferAndJoinsTheResults) {
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->script = {{"hello", false}, {"Hello world.", true}, {" How", false}};
  service.nextAnalyzer = analyzer;
  EXPECT_EQ(SpeechInput::transcribeLikeMicrophone(dir.file("tone.wav"), Language::english),
            "Hello world. How");
  // 1 s plus 0.6 s of silence at 16 kHz, less what the resampler still holds at the end.
  EXPECT_LE(analyzer->frames(), 25600u);
  EXPECT_GE(analyzer->frames(), 25600u - 400u);
  EXPECT_GE(analyzer->inputs(), 37u);
  for (const auto& format : analyzer->formats()) EXPECT_EQ(format, *service.format);
  EXPECT_EQ(service.calls(),
            (std::vector<std::string>{"supportedLocale en_US", "analyzer en_US", "format en_US"}));
}

TEST_F(FileTranscription, FailuresOfLocaleFormatFileAndAnalyzerPassOn) {
  EXPECT_THROW(SpeechInput::transcribeLikeMicrophone(dir.file("tone.wav"), Language::portuguese),
               SpeechInput::Failure);
  EXPECT_THROW(SpeechInput::transcribeLikeMicrophone(dir.file("missing.wav"), Language::english),
               PlatformError);
  auto refusing = std::make_shared<FakeAnalyzer>();
  refusing->refuseStart = true;
  service.nextAnalyzer = refusing;
  EXPECT_THROW(SpeechInput::transcribeLikeMicrophone(dir.file("tone.wav"), Language::english),
               PlatformError);
  service.format.reset();
  try {
    SpeechInput::transcribeLikeMicrophone(dir.file("tone.wav"), Language::english);
    FAIL();
  } catch (const SpeechInput::Failure& failure) {
    EXPECT_EQ(failure, SpeechInput::Failure::notRunning());
  }
}

TEST_F(FileTranscription, FileModeAnswersOnceWithTheTextOrTheError) {
  spoken = Language::english;
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->script = {{"open the door", true}};
  service.nextAnalyzer = analyzer;
  CapturedOutput captured;
  MainLoop loop(MainLoop::Time::simulated);
  std::atomic<int> status{-1};
  auto answer = std::make_shared<Answer>([&](int s) { status = s; });
  startFileMode(dir.file("tone.wav"), answer, loop);
  ASSERT_TRUE(loop.runUntil([&] { return status != -1; }));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(captured.event(), (nlohmann::json{{"event", "final"}, {"text", "open the door"}}));
  loop.advance(seconds(200));  // the timer finds the answer given

  // Preparation fails on the main loop: "locale-unsupported" with the requested locale.
  spoken = Language::portuguese;
  status = -1;
  answer = std::make_shared<Answer>([&](int s) { status = s; });
  startFileMode(dir.file("tone.wav"), answer, loop);
  ASSERT_TRUE(loop.runUntil([&] { return status != -1; }));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(
      captured.event(),
      (nlohmann::json{{"event", "error"}, {"reason", "locale-unsupported"}, {"detail", "pt_BR"}}));
}

TEST_F(FileTranscription, FileModeGivesUpAfter180Seconds) {
  spoken = Language::english;
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->script = {{"almost done", false}};
  analyzer->neverFinish = true;
  service.nextAnalyzer = analyzer;
  CapturedOutput captured;
  MainLoop loop(MainLoop::Time::simulated);
  std::atomic<int> status{-1};
  auto answer = std::make_shared<Answer>([&](int s) { status = s; });
  startFileMode(dir.file("tone.wav"), answer, loop);
  ASSERT_TRUE(loop.runUntil([&] { return analyzer->started(); }));
  loop.advance(seconds(179.9));
  EXPECT_EQ(status, -1);
  loop.advance(seconds(0.2));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(captured.event(),
            (nlohmann::json{{"event", "error"}, {"reason", "failed"}, {"detail", "timed out"}}));
}
