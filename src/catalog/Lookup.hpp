#pragma once

#include <optional>
#include <string>

#include "async/MainLoop.hpp"
#include "cli/Emit.hpp"
#include "platform/Workspace.hpp"

namespace earshot {

// How long a launch may take before the lookup gives up.
inline constexpr double launchTimeLimit = 8.0;

// The lookup mode: scans, resolves `text` and answers "app" or "error". Returns the exit status
// when it answered at once; with `launch` and an application found, it returns nothing and the
// launch's completion or the time limit on `loop` answers later and ends the process through
// `exit`.
std::optional<int> lookup(Workspace& workspace, MainLoop& loop, const std::string& text, bool exact,
                          bool launch, Answer::Exit exit = Answer::terminate);

}  // namespace earshot
