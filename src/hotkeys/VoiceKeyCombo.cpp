#include "hotkeys/VoiceKeyCombo.hpp"

namespace earshot {

std::vector<NamedKey> voiceKeys;

void fillVoiceKeys() {
  voiceKeys = {
      {"option-space", VoiceKeyCombo::optionSpace},
      {"control-option-space", VoiceKeyCombo::controlOptionSpace},
      {"control-shift-space", {49, VoiceKeyCombo::control | VoiceKeyCombo::shift}},
      {"control-option-command-space",
       {49, VoiceKeyCombo::control | VoiceKeyCombo::option | VoiceKeyCombo::command}},
  };
}

}  // namespace earshot
