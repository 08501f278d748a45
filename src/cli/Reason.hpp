#pragma once

#include <exception>

#include "cli/Emit.hpp"

namespace earshot {

// The payload of an "error" event for any error: {"reason", optional "detail"}.
Payload reason(std::exception_ptr error);

}  // namespace earshot
