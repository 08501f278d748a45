#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "async/MainLoop.hpp"
#include "platform/HotKeyService.hpp"
#include "platform/linux/PortalHotKeys.hpp"
#include "platform/linux/X11HotKeys.hpp"

namespace earshot::linux_platform {

enum class HotKeyBackEnd { x11, portal, none };

// What the environment says about the session.
struct SessionHints {
  std::string forced;          // EARSHOT_HOTKEYS: "x11", "portal", "none" or empty
  std::string sessionType;     // XDG_SESSION_TYPE
  std::string display;         // DISPLAY
  std::string waylandDisplay;  // WAYLAND_DISPLAY
  static SessionHints fromEnvironment();
};

// The back end for a session. An X11 session grabs keys on X; a Wayland session uses the portal
// when it answers with global shortcuts (`portalAnswers` is asked only then), and otherwise has
// no system-wide key: an X grab under XWayland would only see keys while an X window has focus.
HotKeyBackEnd chooseHotKeys(const SessionHints& hints, const std::function<bool()>& portalAnswers);

// The hot keys of the process: the back end is chosen on first use, once.
class ChosenHotKeys final : public HotKeyService {
 public:
  explicit ChosenHotKeys(MainLoop& loop);
  ~ChosenHotKeys() override;

  StatusCode install(Sink sink) override;
  bool installed() const override;
  Registration add(VoiceKeyCombo combo, Identifier identifier) override;
  void addThen(VoiceKeyCombo combo, Identifier identifier, Added done) override;
  void remove(Handle handle) override;
  bool isKeyDown(std::uint32_t keyCode) override;
  void setLostSink(LostSink sink) override;
  void setChangedSink(ChangedSink sink) override;
  Kind kind() const override;
  std::string backEnd() const override;
  std::string failureDetail() const override;
  std::optional<Trigger> trigger(Handle handle) const override;

 private:
  // Null for no back end.
  HotKeyService* chosen() const;

  MainLoop& loop_;
  mutable std::unique_ptr<X11HotKeys> x11_;
  mutable std::unique_ptr<PortalHotKeys> portal_;
  mutable bool decided_ = false;
  mutable std::string none_;
  LostSink lostSink_;
  ChangedSink changedSink_;
};

}  // namespace earshot::linux_platform
