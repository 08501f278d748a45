#pragma once

#include <functional>
#include <string>

#include "cli/Arguments.hpp"
#include "platform/Platform.hpp"

namespace earshot {

// The five modes. Each returns the exit status of a one-shot mode, or never returns. A mode this
// build does not have is left empty and answers "not available in this build".
struct Modes {
  std::function<int(const std::string& text, bool exact, bool launch)> lookup;
  std::function<int()> survey;
  std::function<int(const std::string& path, bool appNames)> file;
  std::function<int(bool appNames)> dictation;
  std::function<int(const std::string& key, bool appNames)> listening;
};

// Sets the globals from the argument list, rejects an option without its value (status 2) and
// runs exactly one mode. Returns the process's exit status.
int runEntry(const Arguments& arguments, const Modes& modes);

// The modes this build has, each running on `platform`.
Modes modesOn(Platform& platform);

// The process's entry point: `runEntry` with the modes on `platform`.
int runEntry(const Arguments& arguments, Platform& platform);

}  // namespace earshot
