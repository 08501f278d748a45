#pragma once

namespace earshot {

struct Platform;

// `--dictate`: one take under standard-input control. Ends the process with status 0 after its
// one closing event; never returns.
int dictationMode(Platform& platform);

}  // namespace earshot
