#pragma once

#include <map>
#include <string>
#include <vector>

namespace earshot::testing {

// This process's environment with `changes` applied: each added, or with an empty value removed.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& changes);

// For a forked child: replaces it with `program`, or ends it with status 127.
[[noreturn]] void execute(const std::string& program, const std::vector<std::string>& arguments,
                          std::vector<std::string>& environment);

}  // namespace earshot::testing
