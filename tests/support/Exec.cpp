#include "support/Exec.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

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

HostedChild startHosted(const std::string& program, const std::vector<std::string>& arguments,
                        const std::map<std::string, std::string>& environment,
                        const std::string& errors) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) std::abort();
  auto env = environmentWith(environment);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    execute(program, arguments, env);
  }
  close(in[0]);
  close(out[1]);
  return {pid, in[1], out[0]};
}

int exitStatusWithin(pid_t pid, std::chrono::milliseconds limit) {
  if (pid <= 0) return -1;
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void endWithin(pid_t pid, std::chrono::milliseconds limit) {
  if (pid <= 0 || exitStatusWithin(pid, limit) >= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

}  // namespace earshot::testing
