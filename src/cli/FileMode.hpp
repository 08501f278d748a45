#pragma once

#include <memory>
#include <string>

#include "cli/Emit.hpp"
#include "platform/Platform.hpp"

namespace earshot {

// Starts transcribing `path` and arms the 180 s limit on the platform's loop. The first of them
// to finish gives `answer`: "final" with the text (0) or "error" (1). The caller serves the loop.
// With `appNames`, the recognizer hears only application commands over the names of a catalog
// scanned once the recognizer is ready, and the text is the name heard or "".
void startFileMode(Platform& platform, const std::string& path, std::shared_ptr<Answer> answer,
                   double limit = 180.0, bool appNames = false);

// The `--file` mode: never returns; the answer ends the process.
int fileMode(Platform& platform, const std::string& path, bool appNames = false);

}  // namespace earshot
