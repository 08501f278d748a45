#pragma once

// The system's virtual key codes (the positions of a US keyboard) as X keysyms.

#include <cstdint>
#include <optional>
#include <vector>

namespace earshot::linux_platform {

// The X virtual key code's keysym (such as XK_space for 49), for the keys the system knows.
std::optional<unsigned long> keysymFor(std::uint32_t keyCode);
// Every virtual key code that keysymFor knows.
std::vector<std::uint32_t> knownKeyCodes();

}  // namespace earshot::linux_platform
