#include "support/PortalDesktop.hpp"

#include <filesystem>
#include <fstream>
#include <thread>

#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/SessionBus.hpp"

namespace earshot::testing {

namespace {
constexpr const char* desktop = "earshottest";
}

PortalDesktop::PortalDesktop(const std::string& standIn, Options options)
    : standIn_(standIn), options_(options) {
  std::filesystem::create_directories(folder_.file("portals"));
  std::filesystem::create_directories(folder_.file("runtime"));
  std::ofstream(folder_.file("portals/earshottest.portal"))
      << "[portal]\nDBusName=org.freedesktop.impl.portal.desktop.earshottest\nInterfaces="
      << (options_.shortcuts ? "org.freedesktop.impl.portal.GlobalShortcuts;" : "")
      << "\nUseIn=" << desktop << "\n";
  bus_ = startSessionBus(folder_.file("bus.conf"), folder_.file("bus"), address_);
  if (address_.empty()) return;
  if (!startStandIn()) return;
  if (options_.frontend && !startPortal()) return;
  running_ = true;
}

PortalDesktop::~PortalDesktop() {
  portal_.reset();
  standInProcess_.reset();
  bus_.reset();
}

std::map<std::string, std::string> PortalDesktop::environment() const {
  return {{"DBUS_SESSION_BUS_ADDRESS", address_},
          {"XDG_SESSION_TYPE", "wayland"},
          {"XDG_CURRENT_DESKTOP", desktop},
          {"XDG_RUNTIME_DIR", folder_.path() + "/runtime"},
          {"DISPLAY", ""},
          {"WAYLAND_DISPLAY", ""},
          {"EARSHOT_HOTKEYS", ""}};
}

bool PortalDesktop::startStandIn() {
  standInProcess_ = std::make_unique<Child>(
      standIn_, std::vector<std::string>{},
      std::map<std::string, std::string>{{"DBUS_SESSION_BUS_ADDRESS", address_}});
  return standInProcess_->readLine() == "ready";
}

bool PortalDesktop::owned(const std::string& name) const {
  RunOptions options;
  options.timeout = std::chrono::seconds(5);
  const auto result =
      run(programPath("gdbus"),
          {"call", "--address", address_, "--dest", "org.freedesktop.DBus", "--object-path",
           "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", name},
          options);
  return result.status == 0 && result.out.find("true") != std::string::npos;
}

bool PortalDesktop::startPortal() {
  auto environment = this->environment();
  environment.erase("XDG_SESSION_TYPE");
  environment["XDG_DESKTOP_PORTAL_DIR"] = folder_.path() + "/portals";
  portal_ = std::make_unique<Child>("/usr/libexec/xdg-desktop-portal", std::vector<std::string>{},
                                    environment, Child::Ending::kill);
  for (int k = 0; k < 100; ++k) {
    if (owned("org.freedesktop.portal.Desktop")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void PortalDesktop::stopPortal() {
  portal_.reset();
  for (int k = 0; k < 50 && owned("org.freedesktop.portal.Desktop"); ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

bool PortalDesktop::send(const std::string& command) {
  return standInProcess_ && standInProcess_->send(command);
}

bool PortalDesktop::control(const std::string& command) {
  if (!standInProcess_) return false;
  if (!standInProcess_->send(command)) return false;
  return !report("ok").empty();
}

std::string PortalDesktop::report(const std::string& prefix, std::chrono::milliseconds limit) {
  for (auto line = backlog_.begin(); line != backlog_.end(); ++line) {
    if (line->rfind(prefix, 0) == 0) {
      std::string found = *line;
      backlog_.erase(line);
      return found;
    }
  }
  if (!standInProcess_) return {};
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    std::string line = standInProcess_->readLine(left);
    if (line.empty()) return {};
    if (line.rfind(prefix, 0) == 0) return line;
    backlog_.push_back(line);
  }
  return {};
}

}  // namespace earshot::testing
