#include "support/XServer.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>
#include <utility>

namespace earshot::testing {

namespace {

// Starts Xvfb on `display` (":N"), or on a free one when empty; its pid and display once it
// accepts connections.
std::pair<pid_t, std::string> launch(const std::string& display) {
  int ready[2];
  if (pipe(ready) != 0) return {-1, {}};
  const pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    close(ready[0]);
    std::string fd = std::to_string(ready[1]);
    if (display.empty())
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
             "1024x768x24", "-noreset", static_cast<char*>(nullptr));
    else
      execlp("Xvfb", "Xvfb", display.c_str(), "-displayfd", fd.c_str(), "-nolisten", "tcp",
             "-screen", "0", "1024x768x24", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  // Xvfb writes its display number once it accepts connections.
  pollfd wait{ready[0], POLLIN, 0};
  std::string number;
  while (poll(&wait, 1, 10000) > 0) {
    char c;
    if (read(ready[0], &c, 1) != 1 || c == '\n') break;
    number.push_back(c);
  }
  close(ready[0]);
  return {pid, number.empty() ? std::string() : ":" + number};
}

}  // namespace

XServer::XServer() {
  std::tie(pid_, display_) = launch({});
}

XServer::XServer(int first) {
  for (int number = first; number < first + 20 && !running(); ++number) {
    std::tie(pid_, display_) = launch(std::string(":").append(std::to_string(number)));
    if (!running()) end();
  }
}

void XServer::end() {
  if (pid_ <= 0) return;
  resume();
  kill(pid_, SIGTERM);
  int status;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool XServer::restart() {
  end();
  auto [pid, display] = launch(display_);
  pid_ = pid;
  return pid_ > 0 && display == display_;
}

void XServer::stop() {
  if (pid_ <= 0 || stopped_ || kill(pid_, SIGSTOP) != 0) return;
  stopped_ = true;
  // The signal takes effect a moment later: wait until the process shows as stopped ("T").
  const std::string stat = "/proc/" + std::to_string(pid_) + "/stat";
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(stat);
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'T') return;
    usleep(5000);
  }
}

void XServer::resume() {
  if (pid_ > 0 && stopped_ && kill(pid_, SIGCONT) == 0) stopped_ = false;
}

XServer::~XServer() {
  end();
}

}  // namespace earshot::testing
