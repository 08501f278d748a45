#include "support/SessionBus.hpp"

#include <fstream>
#include <map>
#include <vector>

#include "support/PulseServer.hpp"

namespace earshot::testing {

std::unique_ptr<Child> startSessionBus(const std::string& config, const std::string& socket,
                                       std::string& address) {
  std::ofstream(config)
      << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)"
      << socket << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
  auto bus = std::make_unique<Child>(
      programPath("dbus-daemon"),
      std::vector<std::string>{"--config-file=" + config, "--nofork", "--print-address=1"},
      std::map<std::string, std::string>{}, Child::Ending::kill);
  address = bus->readLine();
  return bus;
}

}  // namespace earshot::testing
