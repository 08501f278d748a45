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

}  // namespace earshot
