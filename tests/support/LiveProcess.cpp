#include "support/LiveProcess.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/Exec.hpp"

namespace earshot::testing {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

LiveProcess::LiveProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment,
                         const std::string& errors)
    : errors_(errors) {
  // A command written after the process has gone must fail, not end the test.
  signal(SIGPIPE, SIG_IGN);
  const auto child = startHosted(program, arguments, environment, errors);
  pid_ = child.pid;
  input_ = child.input;
  output_ = child.output;
}

LiveProcess::~LiveProcess() {
  closeInput();
  if (pid_ > 0) endWithin(pid_, std::chrono::seconds(5));
  close(output_);
}

bool LiveProcess::send(const std::string& line) {
  const std::string text = line + "\n";
  return input_ >= 0 &&
         write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void LiveProcess::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

json LiveProcess::next(std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  for (;;) {
    if (auto newline = buffer_.find('\n'); newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      auto event = json::parse(line, nullptr, false);
      EXPECT_FALSE(event.is_discarded()) << line;
      return event;
    }
    if (ended_) return {};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    pollfd wait{output_, POLLIN, 0};
    if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) return {};
    char chunk[4096];
    ssize_t n = read(output_, chunk, sizeof chunk);
    if (n <= 0) {
      ended_ = true;
      continue;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::vector<json> LiveProcess::until(std::initializer_list<std::string> names,
                                     std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  std::vector<json> seen;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    json event = next(std::max(left, std::chrono::milliseconds(0)));
    if (event.is_null()) break;
    seen.push_back(event);
    if (std::find(names.begin(), names.end(), event.value("event", "")) != names.end()) return seen;
  }
  ADD_FAILURE() << "none of " << json(std::vector<std::string>(names)).dump() << " after "
                << json(seen).dump();
  return {};
}

std::vector<json> LiveProcess::rest(std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  std::vector<json> seen;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    json event = next(std::max(left, std::chrono::milliseconds(0)));
    if (event.is_null()) return seen;
    seen.push_back(event);
  }
}

int LiveProcess::waitFor(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return status_;
  const int status = exitStatusWithin(pid_, limit);
  if (status >= 0) {
    pid_ = -1;
    status_ = status;
  }
  return status;
}

std::string LiveProcess::errors() const {
  std::ifstream in(errors_);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> namesOf(const std::vector<json>& events) {
  std::vector<std::string> names;
  for (const auto& event : events) names.push_back(event.value("event", ""));
  return names;
}

std::vector<std::string> milestonesOf(const std::vector<json>& events) {
  std::vector<std::string> names;
  for (auto& name : namesOf(events))
    if (name != "level" && name != "partial") names.push_back(std::move(name));
  return names;
}

long residentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

}  // namespace earshot::testing
