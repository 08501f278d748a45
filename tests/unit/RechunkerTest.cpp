// Re-cutting the server's pieces into the tap's buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/linux/Rechunker.hpp"

using namespace earshot;
using earshot::linux_platform::Rechunker;

namespace {

struct Case {
  const char* name;
  std::uint32_t channels;
  std::uint32_t size;
  std::vector<std::size_t> pieces;  // in bytes, repeated until `frames` frames went in
  std::size_t frames;
};

class RechunkerTest : public ::testing::TestWithParam<Case> {};

// Sample f of channel c holds f * 8 + c, so that order, channel and loss all show.
TEST_P(RechunkerTest, GivesWholeBuffersInOrderAndKeepsTheRest) {
  const auto& row = GetParam();
  const auto format = *AudioFormat::make(44100, row.channels);
  std::vector<float> interleaved;
  for (std::size_t f = 0; f < row.frames; ++f)
    for (std::uint32_t c = 0; c < row.channels; ++c)
      interleaved.push_back(static_cast<float>(f * 8 + c));

  Rechunker chunks(format, row.size);
  std::vector<std::pair<PcmBufferRef, std::uint64_t>> out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(interleaved.data());
  const std::size_t total = interleaved.size() * sizeof(float);
  for (std::size_t at = 0, i = 0; at < total; ++i) {
    const std::size_t n = std::min(row.pieces[i % row.pieces.size()], total - at);
    chunks.push(bytes + at, n,
                [&](const PcmBufferRef& b, std::uint64_t first) { out.emplace_back(b, first); });
    at += n;
  }

  ASSERT_EQ(out.size(), row.frames / row.size);
  EXPECT_EQ(chunks.frames(), row.frames);
  for (std::size_t b = 0; b < out.size(); ++b) {
    const auto& [buffer, first] = out[b];
    EXPECT_EQ(first, b * row.size);
    EXPECT_EQ(buffer->frameLength(), row.size);
    EXPECT_EQ(buffer->format().channelCount, row.channels);
    EXPECT_FALSE(buffer->format().interleaved);
    for (std::uint32_t c = 0; c < row.channels; ++c)
      for (std::uint32_t f = 0; f < row.size; ++f)
        ASSERT_EQ(buffer->floatChannelData()[c][f], static_cast<float>((first + f) * 8 + c))
            << "buffer " << b << " channel " << c << " frame " << f;
  }
  // Buffers are never reused: a tap may keep them.
  for (std::size_t b = 1; b < out.size(); ++b) EXPECT_NE(out[b].first, out[b - 1].first);
}

INSTANTIATE_TEST_SUITE_P(Pieces, RechunkerTest,
                         ::testing::Values(Case{"FrameByFrame", 2, 2048, {8}, 4096 + 7},
                                           Case{"ServerFragments", 2, 2048, {882 * 8}, 44100},
                                           Case{"LargerThanABuffer", 1, 2048, {5000 * 4}, 15000},
                                           Case{"ExactlyOneBuffer", 6, 2048, {2048 * 24}, 2048},
                                           // Pieces that cut frames and even samples in two.
                                           Case{"SplitFrames", 2, 256, {3, 13, 1, 4099}, 3000},
                                           Case{"SplitMonoSamples", 1, 100, {1, 2, 5}, 1000},
                                           Case{"TooShortForABuffer", 2, 2048, {512}, 2047}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
