#include "cli/Lookup.hpp"

#include <memory>

#include "catalog/AppCatalog.hpp"
#include "cli/Reason.hpp"
#include "cli/TimeLimit.hpp"

namespace earshot {

std::optional<int> lookup(Workspace& workspace, MainLoop& loop, const std::string& text, bool exact,
                          bool launch, Answer::Exit exit) {
  std::optional<AppRef> found = AppCatalog::scan(workspace).app(text, exact);
  if (!found) {
    emit("error", {{"reason", "not-found"}});
    return 1;
  }
  const Payload payload{{"name", found->name}, {"path", found->path}};
  if (!launch) {
    emit("app", payload);
    return 0;
  }

  // Shared by the launch's completion, which may come on any thread, and the timer.
  auto answer = std::make_shared<Answer>(std::move(exit));
  try {
    workspace.open(found->path, [answer, payload](std::exception_ptr error) {
      if (error) {
        answer->give("error", reason(error), 1);
      } else {
        answer->give("app", payload, 0);
      }
    });
  } catch (...) {
    // A launch that cannot even be requested is a launch error, not a crash.
    answer->give("error", reason(std::current_exception()), 1);
  }
  limitAnswer(answer, loop, launchTimeLimit);
  return std::nullopt;
}

int lookupMode(Platform& platform, const std::string& text, bool exact, bool launch) {
  if (auto status = lookup(platform.workspace, platform.loop, text, exact, launch)) return *status;
  // The launch's completion or its time limit ends the process.
  platform.loop.run();
  return 1;
}

}  // namespace earshot
