#pragma once

#include <memory>
#include <string>

#include "async/MainLoop.hpp"
#include "cli/Emit.hpp"

namespace earshot {

// Starts transcribing `path` off the main thread and arms the 180 s limit on `loop`. The first of
// them to finish gives `answer`: "final" with the text (0) or "error" (1). Recognizer preparation
// runs on `loop`, which the caller must serve.
void startFileMode(const std::string& path, std::shared_ptr<Answer> answer, MainLoop& loop,
                   double limit = 180.0);

// The `--file` mode: never returns; the answer ends the process.
int fileMode(const std::string& path);

}  // namespace earshot
