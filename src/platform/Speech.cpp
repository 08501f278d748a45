#include "platform/Speech.hpp"

namespace earshot {

SpeechServices& speechServices() {
  static SpeechServices services;
  return services;
}

}  // namespace earshot
