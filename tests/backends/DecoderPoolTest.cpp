// The pool between analyses of both kinds: each waits only for a decoder it can use, so neither
// waits in vain nor loads a model it need not.
#include <gtest/gtest.h>

#include <chrono>

#include "catalog/AppNames.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/SphinxDecoders.hpp"
#include "platform/linux/SphinxModels.hpp"

using namespace earshot;
using namespace earshot::linux_platform;
using namespace std::chrono_literals;

namespace {

bool isReady(std::future<ps_decoder_t*>& decoder, std::chrono::milliseconds within = 0ms) {
  return decoder.wait_for(within) == std::future_status::ready;
}

}  // namespace

TEST(DecoderPool, CommandAndGeneralAnalysesWaitOnlyForDecodersTheyCanUse) {
  const auto model = findSphinxModel(EARSHOT_SPHINX_MODELDIR, RecognizerLanguage::english);
  ASSERT_TRUE(model);
  silenceSphinx();
  auto pool = std::make_shared<DecoderPool>(*model, SphinxSearch{});

  // A general analysis is stopping: a command analysis waits for its decoder.
  ps_decoder_t* first = pool->acquire(DecoderKind::general).get();
  pool->promise(DecoderKind::general);
  auto command = pool->acquire(DecoderKind::grammar);
  EXPECT_FALSE(isReady(command));
  pool->release(first, true, DecoderKind::general);
  ASSERT_TRUE(isReady(command, 5s));
  ps_decoder_t* commands = command.get();
  EXPECT_EQ(commands, first);
  EXPECT_EQ(pool->made(), 1);

  AppCatalog catalog;
  catalog.entries.push_back({AppRef{"firefox", {}, "/x/firefox"}, {"firefox"}});
  GrammarState& given = pool->grammarState(commands);
  useGrammar(commands, given, appGrammar(commands, given, appVocabulary(catalog), GrammarWords{}));
  ASSERT_FALSE(hasLanguageModel(commands));

  // A command analysis is stopping: its decoder has no language model, so a general analysis
  // loads its own instead of waiting for it.
  pool->promise(DecoderKind::grammar);
  auto general = pool->acquire(DecoderKind::general);
  ASSERT_TRUE(isReady(general, 30s));
  ps_decoder_t* second = general.get();
  EXPECT_NE(second, commands);
  EXPECT_EQ(pool->made(), 2);

  // The next command analysis waits for the promised one and takes it back.
  auto next = pool->acquire(DecoderKind::grammar);
  EXPECT_FALSE(isReady(next));
  pool->release(commands, true, DecoderKind::grammar);
  ASSERT_TRUE(isReady(next, 5s));
  EXPECT_EQ(next.get(), commands);

  // Back in the pool, each kind goes to its own kind first.
  pool->release(commands, false, DecoderKind::grammar);
  pool->release(second, false, DecoderKind::general);
  auto generalAgain = pool->acquire(DecoderKind::general);
  EXPECT_EQ(generalAgain.get(), second);
  auto commandAgain = pool->acquire(DecoderKind::grammar);
  EXPECT_EQ(commandAgain.get(), commands);
  EXPECT_EQ(pool->made(), 2);
  pool->release(second, false, DecoderKind::general);
  pool->release(commands, false, DecoderKind::grammar);
}

// The analyzer claims its decoder on the main loop: a claim never waits for a model to load,
// neither the background preload nor a load of its own.
TEST(DecoderPool, AClaimNeverWaitsForALoad) {
  const auto model = findSphinxModel(EARSHOT_SPHINX_MODELDIR, RecognizerLanguage::english);
  ASSERT_TRUE(model);
  silenceSphinx();
  auto pool = std::make_shared<DecoderPool>(*model, SphinxSearch{});
  pool->preload(pool);
  auto preloaded = pool->acquire(DecoderKind::general);
  EXPECT_FALSE(isReady(preloaded)) << "the claim waited for the preload";
  auto own = pool->acquire(DecoderKind::general);
  EXPECT_FALSE(isReady(own)) << "the claim waited for a load of its own";
  ASSERT_TRUE(isReady(preloaded, 30s));
  ASSERT_TRUE(isReady(own, 30s));
  ps_decoder_t* first = preloaded.get();
  ps_decoder_t* second = own.get();
  EXPECT_NE(first, second);
  EXPECT_EQ(pool->made(), 2);
  pool->release(first, false, DecoderKind::general);
  pool->release(second, false, DecoderKind::general);
}

// What a grammar search gave a decoder dies with it: a decoder of a later pool starts from nothing
// (even where the allocator puts it at a freed decoder's address) and takes the same grammar in
// full.
TEST(DecoderPool, AGrammarStateLivesAndDiesWithItsDecoder) {
  const auto model = findSphinxModel(EARSHOT_SPHINX_MODELDIR, RecognizerLanguage::english);
  ASSERT_TRUE(model);
  silenceSphinx();
  AppCatalog catalog;
  catalog.entries.push_back({AppRef{"inkscape", {}, "/x/inkscape"}, {"inkscape"}});
  std::shared_ptr<const AppGrammar> grammar;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto pool = std::make_shared<DecoderPool>(*model, SphinxSearch{});
    ps_decoder_t* decoder = pool->acquire(DecoderKind::grammar).get();
    GrammarState& given = pool->grammarState(decoder);
    EXPECT_FALSE(given.installed);
    EXPECT_TRUE(given.added.empty());
    if (!grammar) grammar = appGrammar(decoder, given, appVocabulary(catalog), GrammarWords{});
    EXPECT_NO_THROW(useGrammar(decoder, given, grammar));
    EXPECT_FALSE(hasLanguageModel(decoder));
    EXPECT_EQ(given.installed, grammar);
    EXPECT_FALSE(given.added.empty());  // "inkscape" is not in the dictionary
    pool->release(decoder, false, DecoderKind::grammar);
  }
}
