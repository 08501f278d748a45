#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace earshot::testing {

// A helper process that runs alongside a test: its standard output is read line by line, its
// standard error goes nowhere. On destruction it is ended and reaped.
class Child {
 public:
  enum class Ending {
    closeInput,  // close its standard input and let it finish (killed if it takes over 2 s)
    kill,        // kill it at once
  };

  // `environment` as in RunOptions: added to, or with an empty value removed from, the child's.
  Child(const std::string& program, const std::vector<std::string>& arguments,
        const std::map<std::string, std::string>& environment = {},
        Ending ending = Ending::closeInput);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line of its standard output, without the line feed; empty at the end or on timeout.
  std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  pid_t pid() const { return pid_; }
  // Writes `line` and a line feed to its standard input; false when it no longer reads.
  bool send(const std::string& line);

 private:
  Ending ending_;
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string buffer_;
};

// Kills a process the test did not start itself (one launched by the binary under test).
void killProcess(pid_t pid);

}  // namespace earshot::testing
