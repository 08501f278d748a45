#pragma once

// The long-running modes' standard input: lines read on a thread of their own, and the commands
// they carry.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace earshot {

enum class DictationCommand { stop, cancel };

// "stop" or "cancel" with tabs and Unicode space separators trimmed at both ends; anything else
// is no command.
std::optional<DictationCommand> dictationCommand(std::string_view line);

// The words of a listening-mode line: split at spaces only, empty words dropped.
std::vector<std::string> commandWords(std::string_view line);

// Reads `fd` line by line on a detached thread: `line` gets each line without its line end,
// `end` is called once at the end of input (or a read error). A line longer than the longest
// command is cut, so a host that never sends a line feed cannot make memory grow.
void readLines(int fd, std::function<void(std::string line)> line, std::function<void()> end);

}  // namespace earshot
