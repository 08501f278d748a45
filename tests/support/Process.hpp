#pragma once

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace earshot::testing {

struct RunOptions {
  // Added to (or, with an empty value, removed from) the child's environment.
  std::map<std::string, std::string> environment;
  std::string input;  // written to standard input, which is then closed
  std::chrono::milliseconds timeout{30000};
  std::string workingDirectory;
};

struct RunResult {
  int status = -1;  // exit status; 128+signal when killed; -1 when timed out
  std::string out;
  std::string err;
  bool timedOut = false;

  // Each line of standard output parsed as JSON (a line that is not JSON becomes a null).
  std::vector<nlohmann::json> events() const;
  std::vector<std::string> lines() const;
};

// Runs `program` with `arguments` and collects its output; kills it after the timeout.
RunResult run(const std::string& program, const std::vector<std::string>& arguments,
              const RunOptions& options = {});

}  // namespace earshot::testing
