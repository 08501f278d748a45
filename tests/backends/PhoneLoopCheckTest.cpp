// The phone-loop check on a real decoder, at the costs in force: names said plainly stand, every
// decode is scored over frames, and the grammar is the search again for the next command.
#include <gtest/gtest.h>
#include <pocketsphinx.h>

#include <cstdlib>

#include "catalog/AppNames.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/PhoneLoopCheck.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "platform/linux/SphinxModels.hpp"
#include "support/AppFixtures.hpp"
#include "support/GrammarDecoder.hpp"

using namespace earshot;
using namespace earshot::testing;

TEST(PhoneLoopCheck, NamesSaidPlainlyStandAndTheGrammarStaysTheSearch) {
  GrammarDecoder names(EARSHOT_SPHINX_MODELDIR);
  ASSERT_TRUE(names.decoder);
  ps_decoder_t* decoder = names.decoder;
  auto& given = names.given;
  const auto& grammar = names.grammar;
  const linux_platform::GrammarCosts costs;
  linux_platform::useGrammar(decoder, given, grammar, costs);
  ASSERT_TRUE(linux_platform::addPhoneLoop(decoder));

  TemporaryFolder dir;
  struct Case {
    const char* said;
    const char* name;
  };
  const Case cases[]{
      {"open krita", "krita"},
      {"open the calculator", "calculator"},
      {"terminal", "terminal"},
      {"launch firefox", "firefox"},
  };
  for (const auto& c : cases) {
    const auto pcm = spokenSamples(c.said, dir);
    ASSERT_FALSE(pcm.empty());
    const linux_platform::CepstralMean mean(decoder);
    ps_start_utt(decoder);
    ps_process_raw(decoder, pcm.data(), pcm.size(), FALSE, FALSE);
    ps_end_utt(decoder);
    const char* hypothesis = ps_get_hyp(decoder, nullptr);
    const std::string heard = grammar->text(hypothesis ? hypothesis : "");
    EXPECT_EQ(heard, c.name);
    const auto scores = linux_platform::scoreAgainstPhoneLoop(decoder, pcm, mean);
    const auto margin = linux_platform::perFrameMargin(scores);
    ASSERT_TRUE(margin) << c.said;
    // The loop is free to take any phones: no path of the grammar does better than it by more
    // than the two decodes' different pruning.
    EXPECT_LT(*margin, 0.5) << c.said;
    EXPECT_TRUE(linux_platform::accepted(scores, costs.english.verification))
        << c.said << ": " << *margin;
    EXPECT_GT(scores.grammarFrames, 50) << c.said;
    EXPECT_GT(scores.loopFrames, 50) << c.said;
    // The grammar is the decoder's search again: the next command is heard with it.
    EXPECT_STREQ(ps_get_search(decoder), "earshot-app-names");
  }
}
