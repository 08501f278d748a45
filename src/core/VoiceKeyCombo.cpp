#include "core/VoiceKeyCombo.hpp"

#include <array>
#include <utility>

#include "core/Language.hpp"

namespace earshot {

std::vector<NamedKey> voiceKeys;

std::string VoiceKeyCombo::label() const {
  static constexpr std::array<std::pair<std::uint32_t, const char*>, 4> glyphs{{
      {control, "\u2303"},
      {option, "\u2325"},
      {shift, "\u21e7"},
      {command, "\u2318"},
  }};
  std::string prefix;
  for (const auto& [bit, glyph] : glyphs)
    if (modifiers & bit) prefix += glyph;

  std::string key;
  if (keyCode == escapeKey)
    key = "esc";
  else if (keyCode == space)
    key = tr("Espa\u00e7o", "Space");
  else
    key = std::to_string(keyCode);
  return prefix.empty() ? key : prefix + " " + key;
}

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
