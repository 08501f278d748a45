// The verification score of a heard application name against the free phone loop.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "platform/linux/PhoneLoopCheck.hpp"

using earshot::linux_platform::accepted;
using earshot::linux_platform::CommandScores;
using earshot::linux_platform::perFrameMargin;

namespace {
constexpr double none = -std::numeric_limits<double>::infinity();
}

TEST(PhoneLoopCheck, TheMarginIsPerFrameOfEachDecodeAndStandsAtItsThreshold) {
  struct Case {
    const char* what;
    double grammar;
    int grammarFrames;
    double loop;
    int loopFrames;
    std::optional<double> margin;
    double threshold;
    bool stands;
  };
  const Case cases[]{
      {"a name as good as the loop", -800, 100, -800, 100, 0.0, 0.0, true},
      {"a name forced onto other speech", -1200, 100, -800, 100, -4.0, -1.0, false},
      {"just above the threshold", -850, 100, -800, 100, -0.5, -1.0, true},
      // the two decodes may cut the utterance a few frames apart: each is taken per its own frame
      {"frames that differ", -1000, 100, -980, 98, 0.0, -0.1, true},
      // a decode that saw no frame proves nothing, and is no division by zero
      {"no grammar frame", 0, 0, -800, 100, std::nullopt, -1.0, false},
      {"no loop frame", -800, 100, 0, 0, std::nullopt, -1.0, false},
      // no threshold set: every name heard stands, even one with nothing to score
      {"no threshold", -5000, 100, -800, 100, -42.0, none, true},
      {"no threshold, no frame", 0, 0, 0, 0, std::nullopt, none, true},
  };
  for (const auto& c : cases) {
    CommandScores scores;
    scores.grammar = c.grammar;
    scores.grammarFrames = c.grammarFrames;
    scores.loop = c.loop;
    scores.loopFrames = c.loopFrames;
    const auto margin = perFrameMargin(scores);
    ASSERT_EQ(margin.has_value(), c.margin.has_value()) << c.what;
    if (margin) {
      EXPECT_NEAR(*margin, *c.margin, 1e-9) << c.what;
    }
    EXPECT_EQ(accepted(scores, c.threshold), c.stands) << c.what;
  }
}
