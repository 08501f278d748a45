#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace earshot::testing {

// The binary in listening mode: commands on its standard input, events read as they come,
// standard error kept in a file. Ended (input closed, then killed after 5 s) on destruction.
class Listener {
 public:
  Listener(const std::string& binary, const std::vector<std::string>& arguments,
           const std::map<std::string, std::string>& environment, const std::string& errors);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  void send(const std::string& line);
  void closeInput();
  // The next event, or null at the end or after `limit`.
  nlohmann::json next(std::chrono::milliseconds limit = std::chrono::seconds(15));
  // Events until one named `name` (returned last); empty when it has not come within `limit`.
  std::vector<nlohmann::json> until(const std::string& name,
                                    std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Its exit status; -1 when it is still running after `limit`.
  int waitFor(std::chrono::milliseconds limit);
  std::string errors() const;
  pid_t pid() const { return pid_; }

 private:
  std::string errors_;
  pid_t pid_ = -1;
  int input_ = -1, output_ = -1;
  std::string buffer_;
};

// The names of `events`, in order.
std::vector<std::string> namesOf(const std::vector<nlohmann::json>& events);

// A process's resident memory in kB (VmRSS of /proc/PID/status); 0 when it cannot be read.
long residentKilobytes(pid_t pid);

}  // namespace earshot::testing
