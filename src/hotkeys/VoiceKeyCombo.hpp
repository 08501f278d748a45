#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace earshot {

// One key chord in the system's own model: a virtual key code (49 Space, 53 Escape) and a
// modifier mask (command 0x100, shift 0x200, option 0x800, control 0x1000).
struct VoiceKeyCombo {
  std::uint32_t keyCode = 0;
  std::uint32_t modifiers = 0;

  static constexpr std::uint32_t command = 0x0100;
  static constexpr std::uint32_t shift = 0x0200;
  static constexpr std::uint32_t option = 0x0800;
  static constexpr std::uint32_t control = 0x1000;

  static const VoiceKeyCombo optionSpace;
  static const VoiceKeyCombo controlOptionSpace;

  friend bool operator==(const VoiceKeyCombo&, const VoiceKeyCombo&) = default;
};

inline constexpr VoiceKeyCombo VoiceKeyCombo::optionSpace{49, VoiceKeyCombo::option};
inline constexpr VoiceKeyCombo VoiceKeyCombo::controlOptionSpace{
    49, VoiceKeyCombo::control | VoiceKeyCombo::option};

// A named chord of the table the listening mode chooses from and the survey reports.
struct NamedKey {
  std::string name;
  VoiceKeyCombo combo;
};

// The four named chords, in order. Filled at start-up.
extern std::vector<NamedKey> voiceKeys;
void fillVoiceKeys();

}  // namespace earshot
