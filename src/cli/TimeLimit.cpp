#include "cli/TimeLimit.hpp"

namespace earshot {

Timer limitAnswer(std::shared_ptr<Answer> answer, MainLoop& loop, double limit) {
  return loop.after(seconds(limit), [answer = std::move(answer)] {
    answer->give("error", {{"reason", "failed"}, {"detail", "timed out"}}, 1);
  });
}

}  // namespace earshot
