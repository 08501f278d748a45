#include "support/Process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "support/Exec.hpp"

namespace earshot::testing {

std::vector<std::string> RunResult::lines() const {
  std::vector<std::string> result;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

std::vector<nlohmann::json> RunResult::events() const {
  std::vector<nlohmann::json> result;
  for (const auto& line : lines()) result.push_back(nlohmann::json::parse(line, nullptr, false));
  for (auto& event : result)
    if (event.is_discarded()) event = nullptr;
  return result;
}

RunResult run(const std::string& program, const std::vector<std::string>& arguments,
              const RunOptions& options) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) std::abort();

  std::vector<std::string> env = environmentWith(options.environment);

  pid_t child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
      _exit(126);
    execute(program, arguments, env);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);

  signal(SIGPIPE, SIG_IGN);
  if (!options.input.empty()) {
    size_t done = 0;
    while (done < options.input.size()) {
      ssize_t n = write(in[1], options.input.data() + done, options.input.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  close(in[1]);

  RunResult result;
  const auto end = std::chrono::steady_clock::now() + options.timeout;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(child, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      }
    }
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  int status = 0;
  waitpid(child, &status, 0);
  if (result.timedOut)
    result.status = -1;
  else if (WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.status = 128 + WTERMSIG(status);
  return result;
}

}  // namespace earshot::testing
