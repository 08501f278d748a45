#pragma once

namespace earshot {

struct Platform;

// `--dictate`: one take under standard-input control (hearing only application commands with
// `appNames`). Ends the process with status 0 after its
// one closing event; never returns.
int dictationMode(Platform& platform, bool appNames);

}  // namespace earshot
