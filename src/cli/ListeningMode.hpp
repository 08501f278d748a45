#pragma once

#include <string>

namespace earshot {

struct Platform;

// The default mode: push-to-talk on a system-wide key, commands on standard input. Runs until
// "quit", the end of standard input or the host ends the process; never returns. With `appNames`
// the takes hear only application commands.
int listeningMode(Platform& platform, const std::string& key, bool appNames);

}  // namespace earshot
