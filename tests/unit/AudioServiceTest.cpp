#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <utility>

#include "platform/PlatformError.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "speech/FileTranscription.hpp"
#include "support/AudioFiles.hpp"

using namespace earshot;
using earshot::testing::sine;
using earshot::testing::TemporaryFolder;
using earshot::testing::writeWav;

namespace {

class AudioService : public ::testing::Test {
 protected:
  linux_platform::LinuxAudioToolkit audio;
  TemporaryFolder dir;
};

// Runs one whole-stream conversion of `input`.
PcmBufferRef convertAll(AudioConverter& converter, const PcmBuffer& input, std::uint32_t capacity,
                        AudioConverter::OutputStatus* status = nullptr) {
  auto out = PcmBuffer::make(converter.outputFormat(), capacity);
  bool handed = false;
  std::string error;
  auto result = converter.convert(*out, error, [&](AudioConverter::InputStatus& s) {
    s = handed ? AudioConverter::InputStatus::endOfStream : AudioConverter::InputStatus::haveData;
    const PcmBuffer* given = handed ? nullptr : &input;
    handed = true;
    return given;
  });
  if (status) *status = result;
  return out;
}

PcmBufferRef bufferOf(const AudioFormat& format, const std::vector<float>& interleaved) {
  const std::uint32_t frames = static_cast<std::uint32_t>(interleaved.size() / format.channelCount);
  auto buffer = PcmBuffer::make(format, frames);
  buffer->setFrameLength(frames);
  for (std::uint32_t i = 0; i < frames; ++i)
    for (std::uint32_t c = 0; c < format.channelCount; ++c) {
      const float v = interleaved[std::size_t{i} * format.channelCount + c];
      if (format.interleaved)
        buffer->floatChannelData()[0][std::size_t{i} * format.channelCount + c] = v;
      else
        buffer->floatChannelData()[c][i] = v;
    }
  return buffer;
}

}  // namespace

TEST(AudioTypes, FormatsAndBuffersRefuseWhatCannotBeCarried) {
  EXPECT_FALSE(AudioFormat::make(48000, 0));
  EXPECT_FALSE(AudioFormat::make(0, 1));
  EXPECT_FALSE(AudioFormat::make(-1, 1));
  EXPECT_FALSE(AudioFormat::make(NAN, 1));
  EXPECT_FALSE(AudioFormat::make(48000, AudioFormat::maxChannels + 1));
  auto mic = microphoneLike(3);
  ASSERT_TRUE(mic);
  EXPECT_EQ(mic->layoutTag, (147u << 16) | 3u);
  EXPECT_EQ(mic->sampleRate, 48000);
  EXPECT_FALSE(mic->interleaved);
  EXPECT_FALSE(microphoneLike(0));

  EXPECT_FALSE(PcmBuffer::make(*AudioFormat::make(48000, 2), 0xFFFFFFFFu));
  auto empty = PcmBuffer::make(*AudioFormat::make(48000, 2), 0);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->floatChannelData().size(), 2u);
  auto interleaved = PcmBuffer::make(*AudioFormat::make(48000, 2, true), 8);
  EXPECT_EQ(interleaved->floatChannelData().size(), 1u);
  interleaved->setFrameLength(100);
  EXPECT_EQ(interleaved->frameLength(), 8u);
}

TEST_F(AudioService, EndOfStreamFlushesTheWholeSignal) {
  auto from = *AudioFormat::make(44100, 2);
  auto to = *AudioFormat::make(16000, 1);
  auto converter = audio.makeConverter(from, to);
  ASSERT_TRUE(converter);
  std::vector<float> stereo;
  for (float v : sine(44100, 1.0, 440)) stereo.insert(stereo.end(), {v, v});
  AudioConverter::OutputStatus status;
  auto out = convertAll(*converter, *bufferOf(from, stereo), 20000, &status);
  EXPECT_EQ(status, AudioConverter::OutputStatus::endOfStream);
  EXPECT_NEAR(out->frameLength(), 16000.0, 2.0);
  // The tone survives: its rms is that of a 0.5 sine.
  double sum = 0;
  for (std::uint32_t i = 1000; i < 15000; ++i)
    sum += double(out->floatChannelData()[0][i]) * out->floatChannelData()[0][i];
  EXPECT_NEAR(std::sqrt(sum / 14000), 0.5 / std::sqrt(2.0), 0.01);

  // After the end the converter starts afresh, with no tail of the previous signal.
  auto again = convertAll(*converter, *bufferOf(from, stereo), 20000);
  EXPECT_EQ(again->frameLength(), out->frameLength());
}

TEST_F(AudioService, ChannelsAreAveragedDownAndRepeatedUp) {
  auto stereo = *AudioFormat::make(16000, 2, true);
  auto mono = *AudioFormat::make(16000, 1);
  auto three = *AudioFormat::make(16000, 3);
  auto down = audio.makeConverter(stereo, mono);
  auto folded = convertAll(*down, *bufferOf(stereo, {1, 3, 0.5f, -0.5f}), 8);
  ASSERT_EQ(folded->frameLength(), 2u);  // equal rates: no resampler delay
  EXPECT_EQ(folded->floatChannelData()[0][0], 2.0f);
  EXPECT_EQ(folded->floatChannelData()[0][1], 0.0f);

  auto up = audio.makeConverter(mono, three);
  auto spread = convertAll(*up, *bufferOf(mono, {0.25f, -0.75f}), 8);
  ASSERT_EQ(spread->frameLength(), 2u);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(spread->floatChannelData()[c][1], -0.75f);
}

TEST_F(AudioService, AnOutputBufferThatFillsUpKeepsTheRestForTheNextCall) {
  auto format = *AudioFormat::make(16000, 1);
  auto converter = audio.makeConverter(format, format);
  std::vector<float> ramp(100);
  for (int i = 0; i < 100; ++i) ramp[i] = i / 100.0f;
  auto input = bufferOf(format, ramp);
  auto first = PcmBuffer::make(format, 60);
  std::string error;
  bool handed = false;
  auto status = converter->convert(*first, error, [&](AudioConverter::InputStatus& s) {
    s = handed ? AudioConverter::InputStatus::noDataNow : AudioConverter::InputStatus::haveData;
    handed = true;
    return input.get();
  });
  EXPECT_EQ(status, AudioConverter::OutputStatus::haveData);
  EXPECT_EQ(first->frameLength(), 60u);
  auto second = PcmBuffer::make(format, 60);
  status = converter->convert(*second, error, [&](AudioConverter::InputStatus& s) {
    s = AudioConverter::InputStatus::noDataNow;
    return nullptr;
  });
  EXPECT_EQ(status, AudioConverter::OutputStatus::inputRanDry);
  ASSERT_EQ(second->frameLength(), 40u);
  EXPECT_EQ(second->floatChannelData()[0][0], 0.6f);
}

TEST_F(AudioService, FilesDecodeToFloatAndFailuresCarryTheirDescription) {
  std::vector<float> stereo{0.5f, -0.5f, 0.25f, 0.125f, 0, 1};
  writeWav(dir.file("a.wav"), 22050, 2, stereo);
  auto file = audio.openForReading(dir.file("a.wav"));
  EXPECT_EQ(file->processingFormat(), *AudioFormat::make(22050, 2));
  EXPECT_EQ(file->length(), 3);
  auto buffer = PcmBuffer::make(file->processingFormat(), 3);
  file->read(*buffer);
  ASSERT_EQ(buffer->frameLength(), 3u);
  EXPECT_EQ(buffer->floatChannelData()[0][1], 0.25f);
  EXPECT_EQ(buffer->floatChannelData()[1][2], 1.0f);

  try {
    audio.openForReading(dir.file("missing.wav"));
    FAIL();
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.domain(), "sndfile");
    EXPECT_NE(std::string(error.what()).find("No such file"), std::string::npos) << error.what();
  }
  std::ofstream(dir.file("notes.txt")) << "not audio at all, just some words in a file\n";
  EXPECT_THROW(audio.openForReading(dir.file("notes.txt")), PlatformError);
  EXPECT_THROW(audio.openForReading(dir.path()), PlatformError);
}

TEST_F(AudioService, TheChannelLimitIsOursAndSaysSo) {
  struct Row {
    int channels;
    bool opens;
  };
  for (const Row row : {Row{1, true}, Row{64, true}, Row{65, false}, Row{200, false}}) {
    SCOPED_TRACE(row.channels);
    const std::string path = dir.file(std::to_string(row.channels) + ".wav");
    writeWav(path, 16000, row.channels, std::vector<float>(std::size_t(row.channels) * 4, 0.1f));
    if (row.opens) {
      EXPECT_EQ(audio.openForReading(path)->processingFormat().channelCount,
                std::uint32_t(row.channels));
      continue;
    }
    try {
      audio.openForReading(path);
      ADD_FAILURE() << "opened";
    } catch (const PlatformError& error) {
      EXPECT_EQ(error.domain(), "earshot.audio");
      EXPECT_NE(error.message().find("at most 64"), std::string::npos) << error.message();
    }
  }
}

TEST_F(AudioService, OneSecondBecomes38MicrophoneBuffersFramedBySilence) {
  auto tone = sine(48000, 1.0, 300, 0.5f);
  for (float& v : tone) v = v == 0 ? 0.01f : v;  // every sample of the file is non-zero
  writeWav(dir.file("tone.wav"), 48000, 1, tone);
  auto mic = *microphoneLike(3);
  auto buffers = microphoneBuffers(audio, dir.file("tone.wav"), mic);
  ASSERT_EQ(buffers.size(), 38u);  // 48000 + 2 x 14400 = 76800 frames
  std::vector<float> all;
  for (std::size_t k = 0; k < buffers.size(); ++k) {
    const auto& b = buffers[k];
    EXPECT_EQ(b->frameCapacity(), 2048u);
    EXPECT_EQ(b->frameLength(), k + 1 < buffers.size() ? 2048u : 1024u);
    EXPECT_EQ(b->format(), mic);
    const auto data = b->floatChannelData();
    for (std::uint32_t i = 0; i < b->frameLength(); ++i) {
      ASSERT_EQ(data[1][i], data[0][i]);
      ASSERT_EQ(data[2][i], data[0][i]);
      all.push_back(data[0][i]);
    }
  }
  ASSERT_EQ(all.size(), 76800u);
  for (std::size_t i = 0; i < 14400; ++i) ASSERT_EQ(all[i], 0.0f) << i;
  for (std::size_t i = 76800 - 14400; i < 76800; ++i) ASSERT_EQ(all[i], 0.0f) << i;
  // Same rate and one channel: the file's samples pass unchanged.
  for (std::size_t i = 0; i < 48000; ++i) ASSERT_EQ(all[14400 + i], tone[i]) << i;
}

TEST_F(AudioService, AnEmptyFileGivesOnlyTheSilences) {
  writeWav(dir.file("empty.wav"), 16000, 1, {});
  auto buffers = microphoneBuffers(audio, dir.file("empty.wav"), *microphoneLike(3));
  ASSERT_EQ(buffers.size(), 15u);  // 28 800 frames
  EXPECT_EQ(buffers.back()->frameLength(), 128u);
  EXPECT_EQ(buffers.front()->frameLength(), 2048u);
}

TEST_F(AudioService, OtherRatesAndChannelsAreResampledToTheMicrophoneRate) {
  std::vector<float> stereo;
  for (float v : sine(44100, 0.5, 200)) stereo.insert(stereo.end(), {v, -v});  // folds to 0
  writeWav(dir.file("stereo.wav"), 44100, 2, stereo);
  auto mic = *microphoneLike(2);
  auto buffers = microphoneBuffers(audio, dir.file("stereo.wav"), mic);
  std::size_t frames = 0;
  float peak = 0;
  for (const auto& b : buffers) {
    frames += b->frameLength();
    for (std::uint32_t i = 0; i < b->frameLength(); ++i)
      peak = std::max(peak, std::fabs(b->floatChannelData()[0][i]));
  }
  EXPECT_NEAR(static_cast<double>(frames), 24000 + 28800, 4);
  EXPECT_LT(peak, 1e-3f);  // opposite channels cancel in the fold before resampling
  EXPECT_THROW(microphoneBuffers(audio, dir.file("none.wav"), mic), PlatformError);
}

// Decoding in pieces gives, sample for sample, the buffers of the whole file in one piece: the
// resampler keeps its history across pieces and is flushed once, at the end.
TEST_F(AudioService, ThePieceSizeDoesNotChangeTheBuffers) {
  struct Row {
    int rate;
    int channels;
  };
  for (const Row row : {Row{44100, 2}, Row{48000, 1}, Row{16000, 1}, Row{22050, 3}}) {
    SCOPED_TRACE(row.rate);
    std::vector<float> samples;
    for (float v : sine(row.rate, 1.3, 440))
      for (int c = 0; c < row.channels; ++c) samples.push_back(v * float(c + 1) / 3);
    writeWav(dir.file("tone.wav"), row.rate, row.channels, samples);
    const auto mic = *microphoneLike(2);
    const auto whole = microphoneBuffers(audio, dir.file("tone.wav"), mic, row.rate * 2);
    for (std::uint32_t piece : {1u, 999u, 2048u, 8192u}) {
      SCOPED_TRACE(piece);
      const auto cut = microphoneBuffers(audio, dir.file("tone.wav"), mic, piece);
      ASSERT_EQ(cut.size(), whole.size());
      for (std::size_t k = 0; k < cut.size(); ++k) {
        ASSERT_EQ(cut[k]->frameLength(), whole[k]->frameLength()) << k;
        for (std::uint32_t i = 0; i < cut[k]->frameLength(); ++i)
          for (std::uint32_t c = 0; c < 2; ++c)
            ASSERT_EQ(cut[k]->sample(i, c), whole[k]->sample(i, c)) << k << " " << i;
      }
    }
  }
}

TEST(AudioTypes, SampleAccessFollowsEachLayout) {
  for (bool interleaved : {false, true}) {
    auto buffer = PcmBuffer::make(*AudioFormat::make(48000, 3, interleaved), 4);
    for (std::uint32_t i = 0; i < 4; ++i)
      for (std::uint32_t c = 0; c < 3; ++c) buffer->setSample(i, c, float(10 * i + c));
    const auto data = std::as_const(*buffer).floatChannelData();
    for (std::uint32_t i = 0; i < 4; ++i)
      for (std::uint32_t c = 0; c < 3; ++c) {
        const float raw = interleaved ? data[0][i * 3 + c] : data[c][i];
        EXPECT_EQ(raw, float(10 * i + c)) << interleaved << " " << i << " " << c;
        EXPECT_EQ(buffer->sample(i, c), raw);
      }
  }
}
