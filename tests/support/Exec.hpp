#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace earshot::testing {

// This process's environment with `changes` applied: each added, or with an empty value removed.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& changes);

// For a forked child: replaces it with `program`, or ends it with status 127.
[[noreturn]] void execute(const std::string& program, const std::vector<std::string>& arguments,
                          std::vector<std::string>& environment);

// A host's child: `program` with its standard input and output on pipes (ours: `input` to write,
// `output` to read) and its standard error in the file `errors`.
struct HostedChild {
  pid_t pid = -1;
  int input = -1;
  int output = -1;
};
HostedChild startHosted(const std::string& program, const std::vector<std::string>& arguments,
                        const std::map<std::string, std::string>& environment,
                        const std::string& errors);

// The exit status of the child `pid` (128 + signal when killed), reaping it; -1 while it still runs
// after `limit`.
int exitStatusWithin(pid_t pid, std::chrono::milliseconds limit);

// Gives the child `limit` to end (its input closed first by the caller), then kills it; reaped
// either way.
void endWithin(pid_t pid, std::chrono::milliseconds limit);

}  // namespace earshot::testing
