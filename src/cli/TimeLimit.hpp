#pragma once

#include <memory>

#include "async/MainLoop.hpp"
#include "cli/Emit.hpp"

namespace earshot {

// Arms a one-shot mode's time limit: after `limit` seconds on `loop`, `answer` is given as
// "failed" / "timed out" with status 1, unless something answered first.
Timer limitAnswer(std::shared_ptr<Answer> answer, MainLoop& loop, double limit);

}  // namespace earshot
