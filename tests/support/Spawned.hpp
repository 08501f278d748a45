#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace earshot::testing {

// A helper program running beside a test, killed and reaped on destruction.
class Spawned {
 public:
  // Starts `program` with `arguments`, the environment changed by `environment` (an empty value
  // removes the variable), standard input and error on /dev/null.
  Spawned(const std::string& program, const std::vector<std::string>& arguments,
          const std::map<std::string, std::string>& environment = {});
  ~Spawned();
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for one line on the program's standard output; empty when none came in time.
  std::string readLine(std::chrono::milliseconds limit = std::chrono::seconds(10));

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// Kills a process the test did not start itself (one launched by the binary under test).
void killProcess(pid_t pid);

}  // namespace earshot::testing
