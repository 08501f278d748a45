#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "async/MainLoop.hpp"
#include "platform/HotKeyService.hpp"
#include "platform/linux/X11KeyMap.hpp"

namespace earshot::linux_platform {

// System-wide hot keys on X11: passive key grabs on the root window of one connection, whose file
// descriptor the main loop watches, so events arrive on the main thread.
class X11HotKeys final : public HotKeyService {
 public:
  // Statuses of our own; other failures carry the X error code (such as BadValue).
  static constexpr StatusCode noDisplay = -1;       // no display reachable
  static constexpr StatusCode unknownKey = -2;      // the key has no X key code here
  static constexpr StatusCode connectionLost = -3;  // the X server went away

  // `display` names the X display; empty means $DISPLAY. Nothing connects before the first
  // install() or key-state query. When the server goes away, installed() turns false and the next
  // install() connects afresh; the old connection's registrations are gone with it.
  explicit X11HotKeys(MainLoop& loop, std::string display = {});
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  StatusCode install(Sink sink) override;
  bool installed() const override;
  Registration add(VoiceKeyCombo combo, Identifier identifier) override;
  void remove(Handle handle) override;
  bool isKeyDown(std::uint32_t keyCode) override;
  // Told once per lost connection that held grabs: a display that dies takes the grabs with it.
  void setLostSink(LostSink sink) override { lostSink_ = std::move(sink); }

  // Reads and delivers every event the server has sent so far (also done whenever the connection
  // is readable).
  void drain();

 private:
  struct Connection;
  struct Grab {
    Identifier identifier;
    std::uint32_t virtualKey;  // the chord's key, looked up again when the mapping changes
    unsigned keyCode;          // 0 while the key has no X key code
    unsigned modifiers;
    std::vector<unsigned> variants;  // modifiers with each combination of the lock keys
  };

  bool connect();
  void disconnect();
  void drainLater();
  // The keyboard mapping changed: every chord is grabbed again on its new key code and lock
  // modifiers.
  void regrab();
  // True once the connection is lost; a lost connection is no longer watched.
  bool lost() const;

  MainLoop& loop_;
  std::string name_;
  std::unique_ptr<Connection> connection_;
  Sink sink_;
  LostSink lostSink_;
  std::map<Handle, Grab> grabs_;
  // Keys whose press came and whose release has not.
  std::set<unsigned> pressed_;
  Handle nextHandle_ = 1;
  bool drainPosted_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace earshot::linux_platform
