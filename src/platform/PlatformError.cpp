#include "platform/PlatformError.hpp"

namespace earshot {

namespace {
std::string describe(const std::string& domain, long code, const std::string& message) {
  return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + message + "\"";
}
}  // namespace

PlatformError::PlatformError(std::string domain, long code, std::string message)
    : std::runtime_error(describe(domain, code, message)),
      domain_(std::move(domain)),
      code_(code),
      message_(std::move(message)) {}

}  // namespace earshot
