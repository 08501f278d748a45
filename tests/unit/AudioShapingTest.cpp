#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "async/MainLoop.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "speech/SpeechInput.hpp"
#include "speech/TranscriptBox.hpp"
#include "support/FakePlatform.hpp"
#include "support/SimulatedLoop.hpp"

using namespace earshot;
using earshot::testing::SimulatedLoop;
using Clock = std::chrono::steady_clock;

namespace {

// Installs the real audio service for the shaping tests.
class Shaping : public ::testing::Test {
 protected:
  linux_platform::LinuxAudioToolkit audio;
};

PcmBufferRef filled(const AudioFormat& format, std::uint32_t frames, float value) {
  auto buffer = PcmBuffer::make(format, frames);
  buffer->setFrameLength(frames);
  const auto& data = buffer->floatChannelData();
  const std::size_t perPointer =
      format.interleaved ? std::size_t{frames} * format.channelCount : frames;
  for (float* channel : data) std::fill(channel, channel + perPointer, value);
  return buffer;
}

AudioFormat format(double rate, std::uint32_t channels, bool interleaved = false) {
  return *AudioFormat::make(rate, channels, interleaved);
}

const AudioFormat analyzer = format(16000, 1);

}  // namespace

TEST_F(Shaping, FoldsChannelsToTheirAverageInEitherLayout) {
  auto shaper = MicrophoneShaper::make(audio, format(48000, 2), analyzer);
  ASSERT_TRUE(shaper);

  auto planar = PcmBuffer::make(format(48000, 2), 2);
  planar->setFrameLength(2);
  auto& p = planar->floatChannelData();
  p[0][0] = 1, p[1][0] = 3, p[0][1] = 0.5f, p[1][1] = -0.5f;
  auto folded = shaper->mono(*planar);
  ASSERT_TRUE(folded);
  EXPECT_EQ(folded->format(), format(48000, 1));
  EXPECT_EQ(folded->frameLength(), 2u);
  EXPECT_EQ(folded->floatChannelData()[0][0], 2.0f);
  EXPECT_EQ(folded->floatChannelData()[0][1], 0.0f);

  auto interleaved = PcmBuffer::make(format(48000, 2, true), 2);
  interleaved->setFrameLength(2);
  float* i = interleaved->floatChannelData()[0];
  i[0] = 1, i[1] = 3, i[2] = 0.5f, i[3] = -0.5f;
  folded = shaper->mono(*interleaved);
  ASSERT_TRUE(folded);
  EXPECT_EQ(folded->floatChannelData()[0][0], 2.0f);
  EXPECT_EQ(folded->floatChannelData()[0][1], 0.0f);

  // Three channels: multiplied by the reciprocal of three, as live capture does.
  auto three = filled(format(48000, 3), 4, 0.1f);
  folded = shaper->mono(*three);
  EXPECT_EQ(folded->floatChannelData()[0][3], (1.0f / 3.0f) * (0.1f + 0.1f + 0.1f));
}

TEST_F(Shaping, OneChannelFoldsToAnExactCopyAndEmptyBuffersToNothing) {
  auto shaper = MicrophoneShaper::make(audio, format(44100, 1), analyzer);
  auto buffer = PcmBuffer::make(format(44100, 1), 3);
  buffer->setFrameLength(3);
  float* s = buffer->floatChannelData()[0];
  s[0] = 0.123456f, s[1] = -1e-7f, s[2] = 0.987654f;
  auto folded = shaper->mono(*buffer);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(folded->floatChannelData()[0][k], s[k]);

  buffer->setFrameLength(0);
  EXPECT_FALSE(shaper->mono(*buffer));
}

TEST_F(Shaping, ShapersAreRefusedForUnusableFormats) {
  AudioFormat noChannels{48000, 0, false, 0};
  AudioFormat noRate{0, 2, false, 0};
  EXPECT_FALSE(MicrophoneShaper::make(audio, noChannels, analyzer));
  EXPECT_FALSE(MicrophoneShaper::make(audio, noRate, analyzer));
}

TEST(Levels, MapDecibelsLinearlyBetweenMinusFiftyAndMinusTen) {
  EXPECT_EQ(LevelSink::level(0), 0.0f);
  EXPECT_EQ(LevelSink::level(1), 1.0f);  // 1.25 before clamping
  EXPECT_NEAR(LevelSink::level(0.1f), 0.75f, 1e-6);
  EXPECT_NEAR(LevelSink::level(0.01f), 0.25f, 1e-6);
  EXPECT_EQ(LevelSink::level(0.001f), 0.0f);
  EXPECT_TRUE(std::isfinite(LevelSink::level(0)));
  EXPECT_EQ(LevelSink::level(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  EXPECT_EQ(LevelSink::level(std::numeric_limits<float>::infinity()), 1.0f);
}

TEST(Levels, AreMeasuredOnTheFirstChannelAndThrottledToOnePer50Milliseconds) {
  auto now = Clock::time_point{} + std::chrono::hours(1);
  std::vector<float> levels;
  LevelSink sink([&](float v) { levels.push_back(v); }, [&] { return now; });
  auto tenth = filled(format(16000, 1), 160, 0.1f);
  auto loud = filled(format(16000, 1), 160, -1.0f);

  sink.consume(*tenth);  // the first always yields
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_NEAR(levels[0], 0.75f, 1e-5);

  now += std::chrono::milliseconds(30);
  sink.consume(*loud);
  now += std::chrono::milliseconds(19);  // 49 ms after the first
  sink.consume(*loud);
  EXPECT_EQ(levels.size(), 1u);

  now += std::chrono::milliseconds(1);  // exactly 50 ms after the emission: yields
  sink.consume(*loud);
  ASSERT_EQ(levels.size(), 2u);
  EXPECT_EQ(levels[1], 1.0f);

  now += std::chrono::milliseconds(49);  // measured from the last emission, not the last buffer
  sink.consume(*tenth);
  EXPECT_EQ(levels.size(), 2u);

  // An empty buffer neither yields nor moves the throttle.
  now += std::chrono::milliseconds(60);
  auto empty = PcmBuffer::make(format(16000, 1), 16);
  sink.consume(*empty);
  EXPECT_EQ(levels.size(), 2u);
  sink.consume(*tenth);
  EXPECT_EQ(levels.size(), 3u);
}

TEST_F(Shaping, ShapersRebuildOnRateOrChannelChangesOnly) {
  Shapers shapers(audio, analyzer);
  auto first = shapers.shaper(format(48000, 2));
  ASSERT_TRUE(first);
  EXPECT_EQ(shapers.shaper(format(48000, 2, true)), first);  // layout is not compared
  auto resampled = shapers.shaper(format(44100, 2));
  ASSERT_TRUE(resampled);
  EXPECT_NE(resampled, first);
  EXPECT_EQ(resampled->input().sampleRate, 44100);
  auto mono = shapers.shaper(format(44100, 1));
  EXPECT_NE(mono, resampled);

  // A format that cannot be shaped clears the cache; the next good one builds afresh.
  EXPECT_FALSE(shapers.shaper(AudioFormat{0, 1, false, 0}));
  auto again = shapers.shaper(format(44100, 1));
  ASSERT_TRUE(again);
  EXPECT_NE(again, mono);
}

TEST_F(Shaping, ConversionReservesTheRatioPlus64Frames) {
  auto shaper = MicrophoneShaper::make(audio, format(48000, 1), analyzer);
  auto converted = convert(*filled(format(48000, 1), 2048, 0.25f), shaper->converter(), analyzer);
  ASSERT_TRUE(converted);
  EXPECT_EQ(converted->frameCapacity(), 746u);  // 682.67 + 64, truncated
  EXPECT_GT(converted->frameLength(), 0u);
  EXPECT_LE(converted->frameLength(), 746u);
}

TEST_F(Shaping, ConversionKeepsHeldBackSamplesForTheNextBuffer) {
  auto chunked = MicrophoneShaper::make(audio, format(48000, 1), analyzer);
  auto whole = MicrophoneShaper::make(audio, format(48000, 1), analyzer);
  auto signal = PcmBuffer::make(format(48000, 1), 4800);
  signal->setFrameLength(4800);
  for (std::uint32_t i = 0; i < 4800; ++i)
    signal->floatChannelData()[0][i] = 0.5f * static_cast<float>(std::sin(i * 0.05));

  // A short first buffer yields nothing yet: the resampler is still filling its history.
  auto head = PcmBuffer::make(format(48000, 1), 24);
  head->setFrameLength(24);
  std::copy(signal->floatChannelData()[0], signal->floatChannelData()[0] + 24,
            head->floatChannelData()[0]);
  EXPECT_FALSE(convert(*head, chunked->converter(), analyzer));

  auto tail = PcmBuffer::make(format(48000, 1), 4800 - 24);
  tail->setFrameLength(4800 - 24);
  std::copy(signal->floatChannelData()[0] + 24, signal->floatChannelData()[0] + 4800,
            tail->floatChannelData()[0]);
  auto rest = convert(*tail, chunked->converter(), analyzer);
  auto once = convert(*signal, whole->converter(), analyzer);
  ASSERT_TRUE(rest);
  ASSERT_TRUE(once);
  // The held-back samples came out with the second buffer: the same frames as one conversion.
  ASSERT_EQ(rest->frameLength(), once->frameLength());
  for (std::uint32_t i = 0; i < once->frameLength(); ++i)
    EXPECT_NEAR(rest->floatChannelData()[0][i], once->floatChannelData()[0][i], 1e-5) << i;
}

TEST_F(Shaping, TapFoldsMetersConvertsAndQueuesEachBuffer) {
  auto shapers = std::make_shared<Shapers>(audio, analyzer);
  std::vector<float> levels;
  auto now = Clock::time_point{} + std::chrono::hours(1);
  auto sink =
      std::make_shared<LevelSink>([&](float v) { levels.push_back(v); }, [&] { return now; });
  AnalyzerInputStream stream(Buffering::newest(600));
  auto tap = SpeechInput::tap(shapers, sink, stream);

  for (int k = 0; k < 10; ++k) {
    tap(filled(format(48000, 2, true), 2048, 0.1f), 0);
    now += std::chrono::milliseconds(43);
  }
  tap(PcmBuffer::make(format(48000, 2), 2048), 0);  // frame length 0: dropped, no level
  EXPECT_EQ(levels.size(), 5u);  // one per 50 ms of buffers 43 ms apart: 0, 86, 172, 258, 344
  EXPECT_NEAR(levels[0], 0.75f, 1e-5);

  std::size_t inputs = 0, frames = 0;
  while (auto input = stream.tryPop()) {
    ++inputs;
    EXPECT_EQ(input->buffer->format(), analyzer);
    frames += input->buffer->frameLength();
  }
  EXPECT_GE(inputs, 9u);
  EXPECT_NEAR(static_cast<double>(frames), 20480 / 3.0, 700);
}

TEST(Transcript, JoinsFinalsAndReplacesTheVolatileText) {
  TranscriptBox box;
  EXPECT_EQ(box.update("hello", false), "hello");
  EXPECT_EQ(box.update(" hello world", false), "hello world");
  EXPECT_EQ(box.update("Hello world.", true), "Hello world.");
  EXPECT_EQ(box.update(" How", false), "Hello world. How");
  EXPECT_EQ(box.update("", true), "Hello world.");  // an empty final clears the volatile text
  EXPECT_EQ(box.update(" Fine\n", true), "Hello world. Fine");
  EXPECT_EQ(box.text(), "Hello world. Fine");
  EXPECT_EQ(TranscriptBox().text(), "");

  // Unicode white space and line breaks are trimmed too; inner ones and other letters stay.
  EXPECT_EQ(trimmed("\u00a0\u3000 olá\u00a0mundo\u2028\u0085\u2029 "), "olá\u00a0mundo");
  EXPECT_EQ(trimmed("\u2003\n"), "");
  EXPECT_EQ(trimmed("ação\u200b"), "ação\u200b");  // a zero-width space is not white space
  EXPECT_EQ(trimmed(" \xff "), "\xff");            // stray bytes are kept whole
}

TEST(Sinks, CarryValuesToTheMainThreadWhileTheSpeechInputLives) {
  earshot::testing::FakePlatform fake;
  SimulatedLoop& loop = fake.loop;
  auto speech = std::make_shared<SpeechInput>(fake.platform);
  std::vector<std::pair<std::int64_t, float>> levels;
  std::vector<std::pair<std::int64_t, std::string>> partials;
  auto level = speech->levels(7);
  auto partial = speech->partials(7);

  level->consume(*[] {
    auto b = PcmBuffer::make(*AudioFormat::make(16000, 1), 4);
    b->setFrameLength(4);
    return b;
  }());  // no callback yet: dropped
  partial->emit("dropped");
  loop.runUntilIdle();

  speech->onLevel = [&](std::int64_t id, float v) { levels.emplace_back(id, v); };
  speech->onPartial = [&](std::int64_t id, const std::string& t) { partials.emplace_back(id, t); };
  partial->emit("hello");
  partial->emit("hello world");
  EXPECT_TRUE(partials.empty());  // nothing runs inside the caller
  loop.runUntilIdle();
  ASSERT_EQ(partials.size(), 2u);
  EXPECT_EQ(partials[1], (std::pair<std::int64_t, std::string>{7, "hello world"}));

  // A fresh sink's first buffer always yields a level, delivered with the take's id.
  auto tenth = PcmBuffer::make(*AudioFormat::make(16000, 1), 4);
  tenth->setFrameLength(4);
  std::fill(tenth->floatChannelData()[0], tenth->floatChannelData()[0] + 4, 0.1f);
  auto metered = speech->levels(8);
  metered->consume(*tenth);
  loop.runUntilIdle();
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(levels[0].first, 8);
  EXPECT_NEAR(levels[0].second, 0.75f, 1e-5);
  // Its throttle follows the loop's clock.
  loop.advance(std::chrono::milliseconds(49));
  metered->consume(*tenth);
  loop.advance(std::chrono::milliseconds(1));
  metered->consume(*tenth);
  metered->consume(*tenth);
  loop.runUntilIdle();
  EXPECT_EQ(levels.size(), 2u);

  partial->emit("late");
  speech.reset();  // gone before the value arrives: dropped without error
  loop.runUntilIdle();
  EXPECT_EQ(partials.size(), 2u);
  EXPECT_EQ(levels.size(), 2u);
}
