#include "platform/linux/X11KeyMap.hpp"

#include <X11/keysym.h>

#include <array>

namespace earshot::linux_platform {

namespace {

// Only the keysym's number: the table needs no Xlib types.
using KeySym = unsigned long;

struct KeyName {
  std::uint32_t keyCode;
  KeySym keysym;
};

// The system's virtual key codes (the positions of a US keyboard) and the keysym of each.
constexpr std::array keyNames{
    KeyName{0, XK_a},
    KeyName{1, XK_s},
    KeyName{2, XK_d},
    KeyName{3, XK_f},
    KeyName{4, XK_h},
    KeyName{5, XK_g},
    KeyName{6, XK_z},
    KeyName{7, XK_x},
    KeyName{8, XK_c},
    KeyName{9, XK_v},
    KeyName{11, XK_b},
    KeyName{12, XK_q},
    KeyName{13, XK_w},
    KeyName{14, XK_e},
    KeyName{15, XK_r},
    KeyName{16, XK_y},
    KeyName{17, XK_t},
    KeyName{18, XK_1},
    KeyName{19, XK_2},
    KeyName{20, XK_3},
    KeyName{21, XK_4},
    KeyName{22, XK_6},
    KeyName{23, XK_5},
    KeyName{24, XK_equal},
    KeyName{25, XK_9},
    KeyName{26, XK_7},
    KeyName{27, XK_minus},
    KeyName{28, XK_8},
    KeyName{29, XK_0},
    KeyName{30, XK_bracketright},
    KeyName{31, XK_o},
    KeyName{32, XK_u},
    KeyName{33, XK_bracketleft},
    KeyName{34, XK_i},
    KeyName{35, XK_p},
    KeyName{36, XK_Return},
    KeyName{37, XK_l},
    KeyName{38, XK_j},
    KeyName{39, XK_apostrophe},
    KeyName{40, XK_k},
    KeyName{41, XK_semicolon},
    KeyName{42, XK_backslash},
    KeyName{43, XK_comma},
    KeyName{44, XK_slash},
    KeyName{45, XK_n},
    KeyName{46, XK_m},
    KeyName{47, XK_period},
    KeyName{48, XK_Tab},
    KeyName{49, XK_space},
    KeyName{50, XK_grave},
    KeyName{51, XK_BackSpace},
    KeyName{53, XK_Escape},
    KeyName{54, XK_Super_R},
    KeyName{55, XK_Super_L},
    KeyName{56, XK_Shift_L},
    KeyName{57, XK_Caps_Lock},
    KeyName{58, XK_Alt_L},
    KeyName{59, XK_Control_L},
    KeyName{60, XK_Shift_R},
    KeyName{61, XK_Alt_R},
    KeyName{62, XK_Control_R},
    KeyName{64, XK_F17},
    KeyName{65, XK_KP_Decimal},
    KeyName{67, XK_KP_Multiply},
    KeyName{69, XK_KP_Add},
    KeyName{71, XK_Num_Lock},
    KeyName{75, XK_KP_Divide},
    KeyName{76, XK_KP_Enter},
    KeyName{78, XK_KP_Subtract},
    KeyName{79, XK_F18},
    KeyName{80, XK_F19},
    KeyName{81, XK_KP_Equal},
    KeyName{82, XK_KP_0},
    KeyName{83, XK_KP_1},
    KeyName{84, XK_KP_2},
    KeyName{85, XK_KP_3},
    KeyName{86, XK_KP_4},
    KeyName{87, XK_KP_5},
    KeyName{88, XK_KP_6},
    KeyName{89, XK_KP_7},
    KeyName{90, XK_F20},
    KeyName{91, XK_KP_8},
    KeyName{92, XK_KP_9},
    KeyName{96, XK_F5},
    KeyName{97, XK_F6},
    KeyName{98, XK_F7},
    KeyName{99, XK_F3},
    KeyName{100, XK_F8},
    KeyName{101, XK_F9},
    KeyName{103, XK_F11},
    KeyName{105, XK_F13},
    KeyName{106, XK_F16},
    KeyName{107, XK_F14},
    KeyName{109, XK_F10},
    KeyName{111, XK_F12},
    KeyName{113, XK_F15},
    KeyName{114, XK_Insert},
    KeyName{115, XK_Home},
    KeyName{116, XK_Prior},
    KeyName{117, XK_Delete},
    KeyName{118, XK_F4},
    KeyName{119, XK_End},
    KeyName{120, XK_F2},
    KeyName{121, XK_Next},
    KeyName{122, XK_F1},
    KeyName{123, XK_Left},
    KeyName{124, XK_Right},
    KeyName{125, XK_Down},
    KeyName{126, XK_Up},
};

}  // namespace

std::optional<unsigned long> keysymFor(std::uint32_t keyCode) {
  for (const auto& name : keyNames)
    if (name.keyCode == keyCode) return name.keysym;
  return std::nullopt;
}

std::vector<std::uint32_t> knownKeyCodes() {
  std::vector<std::uint32_t> codes;
  for (const auto& name : keyNames) codes.push_back(name.keyCode);
  return codes;
}

}  // namespace earshot::linux_platform
