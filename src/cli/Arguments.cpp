#include "cli/Arguments.hpp"

#include <algorithm>

namespace earshot {

Arguments::Arguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) list_.emplace_back(argv[i]);
}

std::optional<std::string> Arguments::argument(std::string_view name) const {
  auto found = std::find(list_.begin(), list_.end(), name);
  if (found == list_.end() || std::next(found) == list_.end()) return std::nullopt;
  return *std::next(found);
}

bool Arguments::flag(std::string_view name) const {
  return std::find(list_.begin(), list_.end(), name) != list_.end();
}

}  // namespace earshot
