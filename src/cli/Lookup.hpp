#pragma once

#include <optional>
#include <string>

#include "async/MainLoop.hpp"
#include "cli/Emit.hpp"
#include "platform/Platform.hpp"
#include "platform/Workspace.hpp"

namespace earshot {

// How long a launch may take before the lookup gives up.
inline constexpr double launchTimeLimit = 8.0;

// Scans, resolves `text` and answers "app" or "error". Returns the exit status when it answered
// at once; with `launch` and an application found, it returns nothing and the launch's completion
// or the time limit on `loop` answers later and ends the process through `exit`.
std::optional<int> lookup(Workspace& workspace, MainLoop& loop, const std::string& text, bool exact,
                          bool launch, Answer::Exit exit = Answer::terminate);

// The lookup mode (`--find`, `--open`): returns the exit status, or serves the loop until the
// launch's answer ends the process.
int lookupMode(Platform& platform, const std::string& text, bool exact, bool launch);

}  // namespace earshot
