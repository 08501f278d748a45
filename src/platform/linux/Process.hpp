#pragma once

namespace earshot::linux_platform {

// Process-wide settings made once at start-up, before any event is written.
void prepareProcess();

}  // namespace earshot::linux_platform
