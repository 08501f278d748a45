#pragma once

#include <cstdint>
#include <functional>
#include <optional>

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

  // Receives each press (`pressed` true, also for key repeats) and release of a registered chord.
  using Sink = std::function<void(Identifier identifier, bool pressed)>;

  virtual ~HotKeyService() = default;

  // Connects the one sink of the process. Zero on success; then installed() holds.
  virtual StatusCode install(Sink sink) = 0;
  virtual bool installed() const = 0;

  // Registers `combo` exclusively under `identifier`. On success the status is zero and a handle
  // is returned.
  virtual Registration add(VoiceKeyCombo combo, Identifier identifier) = 0;
  // Drops a registration. Unknown handles are ignored.
  virtual void remove(Handle handle) = 0;

  // Whether the key with this virtual key code is down at this moment.
  virtual bool isKeyDown(std::uint32_t keyCode) = 0;
};

}  // namespace earshot
