#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/VoiceKeyCombo.hpp"

namespace earshot {

// The system-wide hot keys of the platform, with exclusive registration, and the keyboard's state.
// Everything is called on the main thread, and events are delivered there.
class HotKeyService {
 public:
  // Xlib defines a macro named Status, hence the longer name.
  using StatusCode = std::int32_t;
  // A registration's handle. Zero is never a handle.
  using Handle = std::uint64_t;

  // The status of a chord that is registered already, by anyone, this process included.
  static constexpr StatusCode alreadyRegistered = -9878;
  // No system-wide key can be had here at all (a Wayland session without the desktop's shortcuts
  // service); trying another chord is pointless.
  static constexpr StatusCode unavailable = -9880;
  // The desktop refused the request itself (for instance it cannot tell which application asks);
  // another chord would be refused the same way.
  static constexpr StatusCode refused = -9881;
  // The desktop's service went away while a registration waited for its answer.
  static constexpr StatusCode lost = -9882;

  // How chords are had: grabbed by the process itself, or bound by the desktop, which decides
  // the final trigger and cannot report the physical key state.
  enum class Kind { grabs, desktop, none };

  // What a registration is known by: the owner's signature and its number.
  struct Identifier {
    std::uint32_t signature = 0;
    std::uint32_t number = 0;
    friend bool operator==(const Identifier&, const Identifier&) = default;
  };

  struct Registration {
    StatusCode status = 0;
    std::optional<Handle> handle;
  };

  // Told, on the main thread, that every registration was lost at once (the display or the
  // desktop's service went away); `detail` says why in a few words.
  using LostSink = std::function<void(const std::string& detail)>;

  // Receives each press (`pressed` true, also for key repeats) and release of a registered chord.
  using Sink = std::function<void(Identifier identifier, bool pressed)>;

  virtual ~HotKeyService() = default;

  // Connects the one sink of the process. Zero on success; then installed() holds.
  virtual StatusCode install(Sink sink) = 0;
  virtual bool installed() const = 0;

  // Registers `combo` exclusively under `identifier`. On success the status is zero and a handle
  // is returned.
  virtual Registration add(VoiceKeyCombo combo, Identifier identifier) = 0;
  // Registers like add(), but hands the outcome to `done` on the main thread, once, and never
  // waits here: back ends that wait on an outside service (a desktop may ask the user) answer
  // later; the others answer before this returns. A back end may refuse another registration as
  // alreadyRegistered while one is pending.
  using Added = std::function<void(Registration)>;
  virtual void addThen(VoiceKeyCombo combo, Identifier identifier, Added done) {
    done(add(combo, identifier));
  }
  // Drops a registration. Unknown handles are ignored.
  virtual void remove(Handle handle) = 0;

  // Whether the key with this virtual key code is down at this moment.
  virtual bool isKeyDown(std::uint32_t keyCode) = 0;

  // Called on the main thread; replaces the previous sink.
  virtual void setLostSink(LostSink sink) = 0;
  // Told, on the main thread, that the desktop changed what the user presses for a registration
  // (read it again with trigger()). Back ends whose chords are their own never call it.
  using ChangedSink = std::function<void()>;
  virtual void setChangedSink(ChangedSink) {}

  virtual Kind kind() const { return Kind::grabs; }
  // The back end's name, as hosts see it ("x11", "portal", "none").
  virtual std::string backEnd() const { return "x11"; }
  // Why the last refused install() or add() was refused, in a few words; empty when the status
  // says it all.
  virtual std::string failureDetail() const { return {}; }
  // What the user actually presses for a registration, when the desktop decides it.
  struct Trigger {
    std::string description;             // as the desktop words it
    std::optional<VoiceKeyCombo> chord;  // the chord it names, when it can be read
  };
  // Empty when the registration's chord itself is what is pressed.
  virtual std::optional<Trigger> trigger(Handle) const { return std::nullopt; }
};

}  // namespace earshot
