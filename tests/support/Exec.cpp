#include "support/Exec.hpp"

#include <unistd.h>

extern char** environ;

namespace earshot::testing {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    if (!changes.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
  }
  for (const auto& [name, value] : changes)
    if (!value.empty()) env.push_back(name + "=" + value);
  return env;
}

void execute(const std::string& program, const std::vector<std::string>& arguments,
             std::vector<std::string>& environment) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  execve(program.c_str(), argv.data(), envp.data());
  _exit(127);
}

}  // namespace earshot::testing
