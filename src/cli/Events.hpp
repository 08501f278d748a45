#pragma once

#include "core/EventSink.hpp"

namespace earshot {

// The process's own events: lines on standard output, errors through `reason`, and an exit that
// ends the process at once after the last line.
EventSink cliEvents();

}  // namespace earshot
