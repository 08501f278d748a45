#pragma once

#include <stdexcept>
#include <string>

namespace earshot {

// An error of a platform service. Its text names all three parts, the way the system prints them:
// Error Domain=<domain> Code=<code> "<message>".
class PlatformError : public std::runtime_error {
 public:
  PlatformError(std::string domain, long code, std::string message);

  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  std::string domain_;
  long code_;
  std::string message_;
};

}  // namespace earshot
