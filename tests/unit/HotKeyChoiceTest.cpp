#include <gtest/gtest.h>

#include "platform/linux/ChosenHotKeys.hpp"
#include "platform/linux/PortalHotKeys.hpp"

using namespace earshot;
using namespace earshot::linux_platform;

namespace {

struct Choice {
  SessionHints hints;
  bool portalAnswers;
  HotKeyBackEnd expected;
  bool asksThePortal;
};

TEST(HotKeyChoice, FollowsTheSessionAndAsksThePortalOnlyOnWayland) {
  const auto x11 = HotKeyBackEnd::x11, portal = HotKeyBackEnd::portal, none = HotKeyBackEnd::none;
  const std::vector<Choice> rows = {
      {{"", "x11", ":0", ""}, true, x11, false},
      // An X11 session with XWayland's variable left over is still X11.
      {{"", "x11", ":0", "wayland-0"}, true, x11, false},
      {{"", "", ":0", ""}, true, x11, false},
      {{"", "wayland", ":0", "wayland-0"}, true, portal, true},
      {{"", "", ":1", "wayland-0"}, true, portal, true},
      // Never an X grab under XWayland that would not fire.
      {{"", "wayland", ":0", "wayland-0"}, false, none, true},
      {{"", "tty", "", ""}, true, x11, false},
      {{"", "", "", ""}, true, x11, false},
      {{"x11", "wayland", "", "wayland-0"}, true, x11, false},
      {{"portal", "x11", ":0", ""}, true, portal, true},
      {{"portal", "x11", ":0", ""}, false, none, true},
      {{"none", "x11", ":0", ""}, true, none, false},
  };
  for (const auto& row : rows) {
    bool asked = false;
    const auto got = chooseHotKeys(row.hints, [&] {
      asked = true;
      return row.portalAnswers;
    });
    EXPECT_EQ(got, row.expected) << row.hints.forced << "/" << row.hints.sessionType << "/"
                                 << row.hints.display << "/" << row.hints.waylandDisplay;
    EXPECT_EQ(asked, row.asksThePortal) << row.hints.sessionType;
  }
}

TEST(PortalTriggers, AreAskedInTheShortcutSyntax) {
  EXPECT_EQ(PortalHotKeys::preferredTrigger(VoiceKeyCombo::optionSpace), "ALT+space");
  EXPECT_EQ(PortalHotKeys::preferredTrigger(VoiceKeyCombo::controlOptionSpace), "CTRL+ALT+space");
  EXPECT_EQ(PortalHotKeys::preferredTrigger(
                {VoiceKeyCombo::space, VoiceKeyCombo::control | VoiceKeyCombo::option |
                                           VoiceKeyCombo::shift | VoiceKeyCombo::command}),
            "CTRL+ALT+SHIFT+LOGO+space");
  EXPECT_EQ(PortalHotKeys::preferredTrigger({9999, 0}), "");
}

TEST(PortalTriggers, AreReadBackFromTheDesktopsWords) {
  const VoiceKeyCombo controlShift{VoiceKeyCombo::space,
                                   VoiceKeyCombo::control | VoiceKeyCombo::shift};
  struct Row {
    std::string description;
    std::optional<VoiceKeyCombo> chord;
  };
  for (const auto& row : std::vector<Row>{
           {"ALT+space", VoiceKeyCombo::optionSpace},
           {"Alt+Space", VoiceKeyCombo::optionSpace},
           {" Ctrl + Shift + Space ", controlShift},
           {"Shift+Control+space", controlShift},
           {"Ctrl+Alt+Space", VoiceKeyCombo::controlOptionSpace},
           {"Meta+Escape", VoiceKeyCombo{VoiceKeyCombo::escapeKey, VoiceKeyCombo::command}},
           {"space", VoiceKeyCombo{VoiceKeyCombo::space, 0}},
           {"Alt+Alt+space", std::nullopt},
           {"Hyper+space", std::nullopt},
           {"Alt+", std::nullopt},
           {"", std::nullopt},
           {"+", std::nullopt},
           {"Strg+Leertaste", std::nullopt},
       })
    EXPECT_EQ(PortalHotKeys::chordOf(row.description), row.chord) << row.description;
}

}  // namespace
