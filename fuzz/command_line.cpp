// Command lines: NUL-separated arguments through the value check and the mode choice.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/Emit.hpp"
#include "cli/Entry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    earshot::output().fd = -1;  // usage errors go nowhere
    return true;
  }();
  (void)quiet;
  std::vector<std::string> list(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      list.emplace_back();
    else
      list.back().push_back(static_cast<char>(data[i]));
  }
  earshot::Modes modes;
  int chosen = 0;
  modes.lookup = [&](const std::string&, bool, bool) { return chosen = 1; };
  modes.survey = [&] { return chosen = 2; };
  modes.file = [&](const std::string&, bool) { return chosen = 3; };
  modes.dictation = [&](bool) { return chosen = 4; };
  modes.listening = [&](const std::string&, bool) { return chosen = 5; };
  const int status = earshot::runEntry(earshot::Arguments(std::move(list)), modes);
  if (status != 2 && status != chosen) __builtin_trap();
  return 0;
}
