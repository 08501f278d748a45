#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "async/MainLoop.hpp"
#include "platform/HotKeyService.hpp"

namespace earshot::linux_platform {

struct PortalLimits {
  // A method call, the bus connection included.
  std::chrono::milliseconds call{3000};
  // The answer to a request, which may wait for the user to confirm a binding.
  std::chrono::milliseconds answer{10000};
};

// The desktop's global shortcuts through the desktop portal (org.freedesktop.portal.GlobalShortcuts
// on the session bus). One shortcut, "push-to-talk", bound with the wanted chord as its preferred
// trigger; the desktop decides the trigger and may ask the user. Escape chords are never bound: a
// binding lasts and is confirmed by the user, so an Escape that exists only during a hold cannot
// be had. D-Bus runs on a thread of its own; every call and every wait for an answer is bounded,
// and events reach the sink on the main thread. addThen() binds while the main thread goes on: a
// bind may wait for the user's confirmation.
class PortalHotKeys final : public HotKeyService {
 public:
  using Limits = PortalLimits;

  // Statuses of our own.
  static constexpr StatusCode notOffered = -4;  // a chord this back end never binds (Escape)

  // `address` is the bus's address; empty means the session bus of the environment (never one
  // started on demand).
  explicit PortalHotKeys(MainLoop& loop, std::string address = {}, Limits limits = {});
  ~PortalHotKeys() override;
  PortalHotKeys(const PortalHotKeys&) = delete;
  PortalHotKeys& operator=(const PortalHotKeys&) = delete;

  // Whether a portal on the bus speaks GlobalShortcuts. Connects on first use.
  bool answers();

  StatusCode install(Sink sink) override;
  bool installed() const override;
  // Waits for the desktop's answer; addThen() does not.
  Registration add(VoiceKeyCombo combo, Identifier identifier) override;
  void addThen(VoiceKeyCombo combo, Identifier identifier, Added done) override;
  void remove(Handle handle) override;
  // A portal shortcut has no key state to read.
  bool isKeyDown(std::uint32_t) override { return false; }
  void setLostSink(LostSink sink) override { lostSink_ = std::move(sink); }
  void setChangedSink(ChangedSink sink) override { changedSink_ = std::move(sink); }
  Kind kind() const override { return Kind::desktop; }
  std::string backEnd() const override { return "portal"; }
  std::string failureDetail() const override { return detail_; }
  std::optional<Trigger> trigger(Handle handle) const override;

  // The XDG shortcut syntax of a chord, such as "ALT+space"; empty for a key without a name.
  static std::string preferredTrigger(VoiceKeyCombo combo);
  // The chord a desktop's description of a trigger names ("Alt+Space", "ALT+space",
  // "Ctrl+Alt+space"); empty when a word is unknown or repeated.
  static std::optional<VoiceKeyCombo> chordOf(const std::string& description);

 private:
  struct Bus;
  struct Bound {
    Handle handle;
    Identifier identifier;
    Trigger trigger;
  };

  // A bind whose answer is awaited.
  struct Pending {
    std::uint64_t attempt;
    Identifier identifier;
    Added done;
    Timer timeout;
  };

  // On the main thread, from the bus thread.
  void settle(std::uint64_t attempt, StatusCode status, const std::string& detail,
              const std::string& description);
  void activated(bool pressed);
  void lose(const std::string& detail);
  void changed(const std::string& description);

  MainLoop& loop_;
  std::shared_ptr<Bus> bus_;
  Sink sink_;
  LostSink lostSink_;
  ChangedSink changedSink_;
  std::optional<Bound> bound_;
  std::optional<Pending> pending_;
  std::uint64_t attempts_ = 0;
  Handle nextHandle_ = 1;
  std::string detail_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace earshot::linux_platform
