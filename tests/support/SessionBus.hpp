#pragma once

#include <memory>
#include <string>

#include "support/Child.hpp"

namespace earshot::testing {

// A private session bus (dbus-daemon, killed with the returned child) listening on the socket
// `socket`, written to `config`: any client may own any name and eavesdrop, as the tests'
// monitors do. `address` is the bus's address, empty when it did not start.
std::unique_ptr<Child> startSessionBus(const std::string& config, const std::string& socket,
                                       std::string& address);

}  // namespace earshot::testing
