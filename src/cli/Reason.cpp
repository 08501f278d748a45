#include "cli/Reason.hpp"

#include "speech/Failure.hpp"

namespace earshot {

Payload reason(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const SpeechFailure& failure) {
    switch (failure.kind()) {
      case SpeechFailure::Case::localeUnsupported:
        return {{"reason", "locale-unsupported"}, {"detail", failure.identifier()}};
      case SpeechFailure::Case::microphoneDenied:
        return {{"reason", "microphone-denied"}};
      case SpeechFailure::Case::noMicrophone:
        return {{"reason", "no-microphone"}};
      default:
        return {{"reason", "failed"}, {"detail", failure.what()}};
    }
  } catch (const std::exception& other) {
    return {{"reason", "failed"}, {"detail", other.what()}};
  } catch (...) {
  }
  return {{"reason", "failed"}, {"detail", "unknown error"}};
}

}  // namespace earshot
