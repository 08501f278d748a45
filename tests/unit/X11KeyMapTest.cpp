#include <gtest/gtest.h>

#include <set>

#include "platform/linux/X11KeyMap.hpp"

using earshot::linux_platform::keysymFor;
using earshot::linux_platform::knownKeyCodes;

TEST(X11KeyMap, EachKeyAndEachKeysymOnce) {
  std::set<std::uint32_t> codes;
  std::set<unsigned long> keysyms;
  for (std::uint32_t code : knownKeyCodes()) {
    EXPECT_TRUE(codes.insert(code).second) << code;
    ASSERT_TRUE(keysymFor(code)) << code;
    EXPECT_TRUE(keysyms.insert(*keysymFor(code)).second) << code;
  }
  // Space, Escape, Return, Tab, a letter, a digit, F1 and F12, the four arrows.
  for (std::uint32_t code : {49, 53, 36, 48, 0, 29, 122, 111, 123, 124, 125, 126})
    EXPECT_TRUE(codes.count(code)) << code;
  EXPECT_EQ(*keysymFor(49), 0x20ul);    // XK_space
  EXPECT_EQ(*keysymFor(53), 0xff1bul);  // XK_Escape
  EXPECT_FALSE(keysymFor(10));          // the ISO section key has no fixed keysym
  EXPECT_FALSE(keysymFor(0x10000));
}
