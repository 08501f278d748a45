#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace earshot::testing {

// A helper process that runs alongside a test: its standard output is read line by line, and it
// ends when its standard input closes (killed if it does not) on destruction.
class Child {
 public:
  // `environment` as in RunOptions: added to, or with an empty value removed from, the child's.
  Child(const std::string& program, const std::vector<std::string>& arguments,
        const std::map<std::string, std::string>& environment = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line of its standard output, without the line feed; empty at the end or on timeout.
  std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string buffer_;
};

}  // namespace earshot::testing
