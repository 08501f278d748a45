#include "support/Child.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "support/Exec.hpp"

namespace earshot::testing {

Child::Child(const std::string& program, const std::vector<std::string>& arguments,
             const std::map<std::string, std::string>& environment, Ending ending)
    : ending_(ending) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) std::abort();
  std::vector<std::string> env = environmentWith(environment);

  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execute(program, arguments, env);
  }
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  output_ = out[0];
}

Child::~Child() {
  if (input_ >= 0) close(input_);
  if (output_ >= 0) close(output_);
  if (pid_ <= 0) return;
  int status;
  if (ending_ == Ending::kill) kill(pid_, SIGKILL);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) return;
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
}

bool Child::send(const std::string& line) {
  if (input_ < 0) return false;
  const std::string text = line + "\n";
  // A child that has gone must not end the test with SIGPIPE.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  const bool written = write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  sigaction(SIGPIPE, &previous, nullptr);
  return written;
}

std::string Child::readLine(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (auto newline = buffer_.find('\n'); newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd wait{output_, POLLIN, 0};
    if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) return {};
    char chunk[256];
    ssize_t n = read(output_, chunk, sizeof chunk);
    if (n <= 0) return {};
    buffer_.append(chunk, static_cast<size_t>(n));
  }
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
