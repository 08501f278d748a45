#include "support/Spawned.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

namespace earshot::testing {

Spawned::Spawned(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    for (const auto& [name, value] : environment) {
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(pipeFds[1], 1);
    dup2(null, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  out_ = pipeFds[0];
}

Spawned::~Spawned() {
  if (out_ >= 0) close(out_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string Spawned::readLine(std::chrono::milliseconds limit) {
  std::string line;
  pollfd wait{out_, POLLIN, 0};
  while (poll(&wait, 1, static_cast<int>(limit.count())) > 0) {
    char c;
    if (read(out_, &c, 1) != 1 || c == '\n') break;
    line.push_back(c);
  }
  return line;
}

void killProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  // Reap it when it is our child; otherwise wait until it is gone or a zombie of another parent.
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid || kill(pid, 0) != 0) return;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    if (close != std::string::npos && line.compare(close, 3, ") Z") == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace earshot::testing
