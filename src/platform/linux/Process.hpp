#pragma once

namespace earshot::linux_platform {

// What DBUS_SESSION_BUS_ADDRESS holds when the process started without a known session bus: an
// address that fails at once, so that no library starts a bus of its own (GIO would run
// `dbus-launch --autolaunch`, which waits on the X display without limit and outlives us).
// Programs we launch get the environment without it, as we were given it.
inline constexpr const char* noSessionBus = "disabled:";

// Process-wide settings made once at start-up, before any event is written and before any thread.
void prepareProcess();

}  // namespace earshot::linux_platform
