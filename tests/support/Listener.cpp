#include "support/Listener.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "support/Exec.hpp"

using nlohmann::json;
using namespace std::chrono_literals;

namespace earshot::testing {

Listener::Listener(const std::string& binary, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment, const std::string& errors)
    : errors_(errors) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) std::abort();
  auto env = environmentWith(environment);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    execute(binary, arguments, env);
  }
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  output_ = out[0];
}

Listener::~Listener() {
  closeInput();
  if (pid_ > 0 && waitFor(5s) < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(output_);
}

void Listener::send(const std::string& line) {
  const std::string text = line + "\n";
  EXPECT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

void Listener::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

json Listener::next(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (auto newline = buffer_.find('\n'); newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      auto event = json::parse(line, nullptr, false);
      EXPECT_FALSE(event.is_discarded()) << line;
      return event;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd wait{output_, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) return {};
    char chunk[512];
    ssize_t n = read(output_, chunk, sizeof chunk);
    if (n <= 0) return {};
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::vector<json> Listener::until(const std::string& name, std::chrono::milliseconds limit) {
  std::vector<json> seen;
  const auto end = std::chrono::steady_clock::now() + limit;
  auto left = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(end -
                                                                 std::chrono::steady_clock::now());
  };
  for (json event = next(left()); !event.is_null(); event = next(left())) {
    seen.push_back(event);
    if (event.value("event", "") == name) return seen;
  }
  ADD_FAILURE() << "no \"" << name << "\" after " << json(seen).dump();
  return {};
}

int Listener::waitFor(std::chrono::milliseconds limit) {
  for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(10ms)) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
  }
  return -1;
}

std::string Listener::errors() const {
  std::ifstream in(errors_);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> namesOf(const std::vector<json>& events) {
  std::vector<std::string> names;
  for (const auto& event : events) names.push_back(event.value("event", ""));
  return names;
}

long residentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

}  // namespace earshot::testing
