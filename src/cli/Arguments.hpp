#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace earshot {

// The process's argument list, without the program name.
class Arguments {
 public:
  Arguments() = default;
  explicit Arguments(std::vector<std::string> list) : list_(std::move(list)) {}
  Arguments(int argc, char** argv);

  // The element right after the first occurrence of `name`, whatever it is; nothing when `name`
  // is absent or its first occurrence is the last element.
  std::optional<std::string> argument(std::string_view name) const;
  // A flag counts wherever it stands, also as another option's value.
  bool flag(std::string_view name) const;

 private:
  std::vector<std::string> list_;
};

}  // namespace earshot
