#include "speech/Failure.hpp"

namespace earshot {

const char* SpeechFailure::what() const noexcept {
  switch (case_) {
    case Case::localeUnsupported:
      return "localeUnsupported";
    case Case::microphoneDenied:
      return "microphoneDenied";
    case Case::noMicrophone:
      return "noMicrophone";
    case Case::notRunning:
      return "notRunning";
    case Case::superseded:
      return "superseded";
    case Case::letGo:
      return "letGo";
  }
  return "unknown";
}

std::optional<SpeechFailure::Case> failureCase(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const SpeechFailure& failure) {
    return failure.kind();
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace earshot
