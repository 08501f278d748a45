#pragma once

namespace earshot::linux_platform {

// Drops every message GLib and GIO would print. Safe to call many times, from any thread.
void silenceGLib();

}  // namespace earshot::linux_platform
