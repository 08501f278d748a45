#pragma once

#include <compare>
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

  static constexpr std::uint32_t space = 49;
  static constexpr std::uint32_t escapeKey = 53;

  static const VoiceKeyCombo optionSpace;
  static const VoiceKeyCombo controlOptionSpace;
  static const VoiceKeyCombo escape;
  static const VoiceKeyCombo optionShiftSpace;
  static const VoiceKeyCombo controlOptionShiftSpace;

  // What the host shows the user, such as "⌃⌥ Espaço": the modifier glyphs in a fixed order, then
  // the key's name. Reads `spoken` each time, so it follows a language change.
  std::string label() const;

  friend bool operator==(const VoiceKeyCombo&, const VoiceKeyCombo&) = default;
  // An order for sets and maps of chords.
  friend auto operator<=>(const VoiceKeyCombo&, const VoiceKeyCombo&) = default;
};

inline constexpr VoiceKeyCombo VoiceKeyCombo::optionSpace{VoiceKeyCombo::space,
                                                          VoiceKeyCombo::option};
inline constexpr VoiceKeyCombo VoiceKeyCombo::controlOptionSpace{
    VoiceKeyCombo::space, VoiceKeyCombo::control | VoiceKeyCombo::option};
inline constexpr VoiceKeyCombo VoiceKeyCombo::escape{VoiceKeyCombo::escapeKey, 0};
inline constexpr VoiceKeyCombo VoiceKeyCombo::optionShiftSpace{
    VoiceKeyCombo::space, VoiceKeyCombo::option | VoiceKeyCombo::shift};
inline constexpr VoiceKeyCombo VoiceKeyCombo::controlOptionShiftSpace{
    VoiceKeyCombo::space, VoiceKeyCombo::control | VoiceKeyCombo::option | VoiceKeyCombo::shift};

// A named chord of the table the listening mode chooses from and the survey reports.
struct NamedKey {
  std::string name;
  VoiceKeyCombo combo;
};

// The four named chords, in order. Filled at start-up.
extern std::vector<NamedKey> voiceKeys;
void fillVoiceKeys();

}  // namespace earshot
