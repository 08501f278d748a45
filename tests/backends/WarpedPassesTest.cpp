// Warped passes on a real decoder: features from a front end of our own must hear a command as
// the decoder's own front end does, and making them must leave the decoder's settings alone.
#include <gtest/gtest.h>
#include <pocketsphinx.h>

#include <cstdlib>
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
