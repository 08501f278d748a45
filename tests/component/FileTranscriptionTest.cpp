#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>

#include "cli/FileMode.hpp"
#include "platform/PlatformError.hpp"
#include "speech/FileTranscription.hpp"
#include "speech/SpeechInput.hpp"
#include "support/AudioFiles.hpp"
#include "support/EventCapture.hpp"
#include "support/FakePlatform.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::EventCapture;
using earshot::testing::FakeAnalyzer;
using earshot::testing::FakePlatform;
using earshot::testing::FakeSpeechService;
using earshot::testing::settle;
using earshot::testing::SimulatedLoop;

namespace {

class FileTranscription : public ::testing::Test {
 protected:
  void SetUp() override {
    earshot::testing::writeWav(dir.file("tone.wav"), 44100, 2, std::vector<float>(44100 * 2, 0.1f));
  }
  std::string transcribe(const std::string& path, Language language) {
    return transcribeLikeMicrophone(fake.audio, service, path, language);
  }
  FakePlatform fake;
  FakeSpeechService& service = fake.speech;
  SimulatedLoop& loop = fake.loop;
  earshot::testing::TemporaryFolder dir;
};

}  // namespace

TEST_F(FileTranscription, FeedsEveryShapedBufferAndJoinsTheResults) {
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->script = {{"hello", false}, {"Hello world.", true}, {" How", false}};
  service.nextAnalyzer = analyzer;
  EXPECT_EQ(transcribe(dir.file("tone.wav"), Language::english), "Hello world. How");
  // 1 s plus 0.6 s of silence at 16 kHz, less what the resampler still holds at the end.
  EXPECT_LE(analyzer->frames(), 25600u);
  EXPECT_GE(analyzer->frames(), 25600u - 400u);
  EXPECT_GE(analyzer->inputs(), 37u);
  for (const auto& format : analyzer->formats()) EXPECT_EQ(format, *service.format);
  EXPECT_EQ(service.calls(),
            (std::vector<std::string>{"supportedLocale en_US", "analyzer en_US", "format en_US"}));
}

// The analyzer's input holds a bounded number of buffers however long the file, even when the
// analyzer takes each one only once the decoding waits for it; every buffer still arrives.
TEST_F(FileTranscription, ASlowAnalyzerHoldsUpTheDecodingInsteadOfAGrowingQueue) {
  struct Row {
    double seconds;
    std::size_t stopAfter;  // 0: reads to the end
  };
  for (const Row row : {Row{2, 0}, Row{30, 0}, Row{30, 100}}) {
    SCOPED_TRACE(row.seconds);
    earshot::testing::writeWav(dir.file("long.wav"), 44100, 2,
                               std::vector<float>(std::size_t(44100 * 2 * row.seconds), 0.1f));
    auto analyzer = std::make_shared<FakeAnalyzer>();
    analyzer->slow = true;
    analyzer->stopAfter = row.stopAfter;
    analyzer->script = {{"done", true}};
    service.nextAnalyzer = analyzer;
    EXPECT_EQ(transcribe(dir.file("long.wav"), Language::english), "done");
    EXPECT_LE(analyzer->mostQueued(), fileInputBacklog);
    // (seconds + 0.6 s of silence) at 48 kHz in 2048-frame buffers, less what the resampler
    // still holds at the end; an analyzer that stops reading stops the decoding too.
    const auto buffers = std::size_t((row.seconds + 0.6) * 48000 / 2048);
    if (row.stopAfter == 0) {
      EXPECT_GE(analyzer->inputs(), buffers - 1);
      EXPECT_GE(analyzer->frames(), std::size_t((row.seconds + 0.6) * 16000) - 1000);
    } else {
      EXPECT_EQ(analyzer->inputs(), row.stopAfter);
    }
  }
}

TEST_F(FileTranscription, FailuresOfLocaleFormatFileAndAnalyzerPassOn) {
  EXPECT_THROW(transcribe(dir.file("tone.wav"), Language::portuguese), SpeechInput::Failure);
  EXPECT_THROW(transcribe(dir.file("missing.wav"), Language::english), PlatformError);
  auto refusing = std::make_shared<FakeAnalyzer>();
  refusing->refuseStart = true;
  service.nextAnalyzer = refusing;
  EXPECT_THROW(transcribe(dir.file("tone.wav"), Language::english), PlatformError);
  service.format.reset();
  try {
    transcribe(dir.file("tone.wav"), Language::english);
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
  EventCapture captured;
  std::atomic<int> status{-1};
  auto answer = std::make_shared<Answer>([&](int s) { status = s; });
  startFileMode(fake, dir.file("tone.wav"), answer);
  ASSERT_TRUE(settle(loop, [&] { return status != -1; }));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(captured.next(), (nlohmann::json{{"event", "final"}, {"text", "open the door"}}));
  loop.advance(seconds(200));  // the timer finds the answer given

  // Preparation fails on the main loop: "locale-unsupported" with the requested locale.
  spoken = Language::portuguese;
  status = -1;
  answer = std::make_shared<Answer>([&](int s) { status = s; });
  startFileMode(fake, dir.file("tone.wav"), answer);
  ASSERT_TRUE(settle(loop, [&] { return status != -1; }));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(
      captured.next(),
      (nlohmann::json{{"event", "error"}, {"reason", "locale-unsupported"}, {"detail", "pt_BR"}}));
}

TEST_F(FileTranscription, FileModeGivesUpAfter180Seconds) {
  spoken = Language::english;
  auto analyzer = std::make_shared<FakeAnalyzer>();
  analyzer->script = {{"almost done", false}};
  analyzer->neverFinish = true;
  service.nextAnalyzer = analyzer;
  EventCapture captured;
  std::atomic<int> status{-1};
  auto answer = std::make_shared<Answer>([&](int s) { status = s; });
  startFileMode(fake, dir.file("tone.wav"), answer);
  ASSERT_TRUE(settle(loop, [&] { return analyzer->started(); }));
  loop.advance(seconds(179.9));
  EXPECT_EQ(status, -1);
  loop.advance(seconds(0.2));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(captured.next(),
            (nlohmann::json{{"event", "error"}, {"reason", "failed"}, {"detail", "timed out"}}));
}
