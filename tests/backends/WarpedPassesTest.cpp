// Warped passes on a real decoder: features from a front end of our own must hear a command as
// the decoder's own front end does, and making them must leave the decoder's settings alone.
#include <gtest/gtest.h>
#include <pocketsphinx.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "catalog/AppNames.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "platform/linux/SphinxModels.hpp"
#include "platform/linux/WarpedPasses.hpp"
#include "support/AppFixtures.hpp"
#include "support/GrammarDecoder.hpp"

using namespace earshot;
using namespace earshot::testing;

namespace {}  // namespace

TEST(WarpedPasses, UnwarpedFeaturesHearWhatTheDecoderHearsAndWarpsLeaveItsSettings) {
  GrammarDecoder names(EARSHOT_SPHINX_MODELDIR);
  ASSERT_TRUE(names.decoder);
  ps_decoder_t* decoder = names.decoder;
  auto& given = names.given;
  const auto& grammar = names.grammar;
  linux_platform::useGrammar(decoder, given, grammar);
  cmd_ln_t* settings = ps_get_config(decoder);
  const char* typeBefore = cmd_ln_str_r(settings, "-warp_type");
  const std::string warpType = typeBefore ? typeBefore : "";

  TemporaryFolder dir;
  for (const char* said : {"open krita", "launch firefox", "open the calculator"}) {
    const auto pcm = spokenSamples(said, dir);
    ASSERT_FALSE(pcm.empty());
    const linux_platform::CepstralMean mean(decoder);
    ps_start_utt(decoder);
    ps_process_raw(decoder, pcm.data(), pcm.size(), FALSE, FALSE);
    ps_end_utt(decoder);
    const char* raw = ps_get_hyp(decoder, nullptr);
    const std::string byDecoder = raw ? raw : "";
    const int rawFrames = ps_get_n_frames(decoder);

    auto plain = linux_platform::warpedCepstra(decoder, pcm, 1.0);
    ASSERT_TRUE(plain) << said;
    // At least the frames the decoder's own front end keeps: a fresh front end's silence
    // detection has not yet learnt the noise floor, so it may keep a few more, never fewer.
    EXPECT_GE(plain->frames(), rawFrames - 2) << said;
    EXPECT_LE(plain->frames(), rawFrames * 6 / 5) << said;
    linux_platform::decodeCepstra(decoder, *plain, mean);
    const char* cep = ps_get_hyp(decoder, nullptr);
    EXPECT_EQ(std::string(cep ? cep : ""), byDecoder) << said;
    EXPECT_FALSE(grammar->text(byDecoder).empty()) << said;

    // A plain voice is still heard among mild warps, and the warps did not stay in the settings.
    const auto best = linux_platform::hearWarped(decoder, pcm, mean, {0.9, 1.0, 1.1});
    ASSERT_TRUE(best) << said;
    EXPECT_EQ(grammar->text(best->hypothesis), grammar->text(byDecoder)) << said;
    const char* typeAfter = cmd_ln_str_r(settings, "-warp_type");
    EXPECT_EQ(std::string(typeAfter ? typeAfter : ""), warpType);
    EXPECT_EQ(cmd_ln_str_r(settings, "-warp_params"), nullptr);
    EXPECT_STREQ(ps_get_search(decoder), "earshot-app-names");
  }
}

// The second pass hears a command with louder dither than the first: it must start from the mean a
// pass over the louder audio leaves, not from the first pass's, which a shift by the difference of
// the two versions' averages over all frames (silence included) misses by far.
TEST(WarpedPasses, TheMeanOfTheLouderAudioIsTheOneAPassOverItLeaves) {
  GrammarDecoder names(EARSHOT_SPHINX_MODELDIR);
  ASSERT_TRUE(names.decoder);
  ps_decoder_t* decoder = names.decoder;
  linux_platform::useGrammar(decoder, names.given, names.grammar);
  cmn_t* cmn = ps_get_feat(decoder)->cmn_struct;
  ASSERT_TRUE(cmn);
  auto meanAfter = [&](const std::vector<std::int16_t>& pcm) {
    std::fill(cmn->sum, cmn->sum + cmn->veclen, 0.0f);
    cmn->nframe = 0;
    ps_start_utt(decoder);
    ps_process_raw(decoder, pcm.data(), pcm.size(), FALSE, FALSE);
    ps_end_utt(decoder);
    return std::vector<float>(cmn->cmn_mean, cmn->cmn_mean + cmn->veclen);
  };
  auto distance = [](const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum;
  };

  TemporaryFolder dir;
  const auto pcm = spokenSamples("open krita", dir);
  ASSERT_FALSE(pcm.empty());
  std::vector<std::int16_t> faint(pcm), loud(pcm);
  std::minstd_rand noise(3);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    const float u = unit(noise);
    faint[i] = static_cast<std::int16_t>(std::clamp(pcm[i] + u * 32.0f, -32767.0f, 32767.0f));
    loud[i] = static_cast<std::int16_t>(std::clamp(pcm[i] + u * 128.0f, -32767.0f, 32767.0f));
  }
  const auto own = meanAfter(loud);
  const auto first = meanAfter(faint);
  linux_platform::useMeanOf(decoder, loud);
  const std::vector<float> moved(cmn->cmn_mean, cmn->cmn_mean + cmn->veclen);
  EXPECT_LT(distance(moved, own), distance(first, own) / 100);
}
