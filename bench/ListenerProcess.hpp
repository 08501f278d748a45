#pragma once

// The binary in listening mode under a bench, its event lines stamped as they arrive.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/Exec.hpp"
#include "support/Process.hpp"

namespace earshot::testing {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Line {
  Clock::time_point at;  // when this process read it
  nlohmann::json event;
};

// The binary in listening mode. A thread of its own reads standard output and stamps every line
// as it arrives, so that the stamps do not depend on what the driving thread is doing.
class Listener {
 public:
  Listener(const std::string& binary, const std::map<std::string, std::string>& environment,
           const std::string& errors) {
    const auto child = startHosted(binary, {"--language", "en"}, environment, errors);
    pid_ = child.pid;
    input_ = child.input;
    reader_ = std::thread([this, output = child.output] { read(output); });
  }
  ~Listener() {
    if (input_ >= 0) close(input_);
    if (pid_ > 0) endWithin(pid_, 5s);
    reader_.join();
  }

  pid_t pid() const { return pid_; }
  void send(const std::string& line) {
    const std::string text = line + "\n";
    if (write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      std::fprintf(stderr, "could not write to the listener\n");
  }
  // The next line, or none at the end of output or after `limit`.
  std::optional<Line> next(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, limit, [&] { return !lines_.empty() || ended_; }))
      return std::nullopt;
    if (lines_.empty()) return std::nullopt;
    Line line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }
  // Lines up to and including the first that `last` accepts; none when it never comes.
  template <typename Accept>
  std::optional<std::vector<Line>> until(Accept last, std::chrono::milliseconds limit) {
    std::vector<Line> seen;
    const auto end = Clock::now() + limit;
    while (auto line = next(std::chrono::duration_cast<std::chrono::milliseconds>(
               std::max(end - Clock::now(), Clock::duration::zero())))) {
      seen.push_back(std::move(*line));
      if (last(seen.back().event)) return seen;
    }
    std::fprintf(stderr, "waited in vain; read %s\n", linesText(seen).c_str());
    return std::nullopt;
  }
  // Its exit status; -1 while it still runs after `limit`.
  int exitStatus(std::chrono::milliseconds limit) {
    const int status = exitStatusWithin(pid_, limit);
    if (status >= 0) pid_ = -1;
    return status;
  }
  static std::string linesText(const std::vector<Line>& lines) {
    std::string text;
    for (const auto& line : lines) text += line.event.dump() + " ";
    return text;
  }

 private:
  void read(int output) {
    std::string buffer;
    char chunk[4096];
    for (ssize_t n; (n = ::read(output, chunk, sizeof chunk)) > 0;) {
      const auto at = Clock::now();
      buffer.append(chunk, static_cast<std::size_t>(n));
      std::lock_guard lock(mutex_);
      for (std::size_t newline; (newline = buffer.find('\n')) != std::string::npos;) {
        lines_.push_back({at, nlohmann::json::parse(buffer.substr(0, newline), nullptr, false)});
        buffer.erase(0, newline + 1);
      }
      arrived_.notify_all();
    }
    close(output);
    std::lock_guard lock(mutex_);
    ended_ = true;
    arrived_.notify_all();
  }

  pid_t pid_ = -1;
  int input_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Line> lines_;
  bool ended_ = false;
};

}  // namespace earshot::testing
