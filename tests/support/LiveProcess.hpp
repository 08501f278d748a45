#pragma once

// The binary run as a host runs it in its long-running modes: commands written to its standard
// input, event lines read as they come, standard error kept in a file.

#include <sys/types.h>

#include <chrono>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace earshot::testing {

class LiveProcess {
 public:
  // `environment` as in RunOptions; standard error goes to the file `errors`.
  LiveProcess(const std::string& program, const std::vector<std::string>& arguments,
              const std::map<std::string, std::string>& environment, const std::string& errors);
  // Closes its input, gives it 5 s to end, then kills it; always reaped.
  ~LiveProcess();
  LiveProcess(const LiveProcess&) = delete;
  LiveProcess& operator=(const LiveProcess&) = delete;

  // Writes `line` and a line feed; false when the process no longer reads.
  bool send(const std::string& line);
  void closeInput();
  // The next event, or null at the end of its output or after `limit`.
  nlohmann::json next(std::chrono::milliseconds limit = std::chrono::seconds(15));
  // Events until one named in `names` (returned last); a test failure and empty when none comes.
  std::vector<nlohmann::json> until(std::initializer_list<std::string> names,
                                    std::chrono::milliseconds limit = std::chrono::seconds(20));
  std::vector<nlohmann::json> until(const std::string& name,
                                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return until({name}, limit);
  }
  // Every event left until its output ends; `limit` bounds the whole wait.
  std::vector<nlohmann::json> rest(std::chrono::milliseconds limit = std::chrono::seconds(15));
  // Its exit status (128 + signal when killed), also when asked again; -1 when it is still
  // running after `limit`.
  int waitFor(std::chrono::milliseconds limit);
  std::string errors() const;
  pid_t pid() const { return pid_; }

 private:
  std::string errors_;
  pid_t pid_ = -1;
  int status_ = -1;
  int input_ = -1, output_ = -1;
  bool ended_ = false;
  std::string buffer_;
};

// The names of `events`, in order.
std::vector<std::string> namesOf(const std::vector<nlohmann::json>& events);
// The same without "level" and "partial", which come at the pace of the audio.
std::vector<std::string> milestonesOf(const std::vector<nlohmann::json>& events);

// A process's resident memory in kB (VmRSS of /proc/PID/status); 0 when it cannot be read.
long residentKilobytes(pid_t pid);

}  // namespace earshot::testing
