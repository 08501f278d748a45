#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Workspace.hpp"
#include "platform/linux/DesktopEntries.hpp"

namespace earshot::linux_platform {

// The codes of the "earshot.workspace" errors (PlatformError) of a launch.
enum class WorkspaceError : long {
  macOSBundle = 1,
  invalidDesktopEntry = 2,
  launchFailed = 3,
  notBroughtForward = 4,
};

// The workspace on Linux: application bundles in folders, freedesktop desktop entries, running
// applications through the X window manager, launching through GIO.
class LinuxWorkspace : public Workspace {
 public:
  LinuxWorkspace();

  std::string homeFolder() const override;
  std::optional<std::vector<std::string>> contentsOfDirectory(
      const std::string& folder) const override;
  std::string displayName(const std::string& path) const override;
  std::string resolvingSymlinks(const std::string& path) const override;
  std::optional<std::string> readFile(const std::string& path, std::size_t limit) const override;
  std::vector<DesktopEntry> desktopEntries() override;
  std::optional<DesktopEntry> desktopEntry(const std::string& path, const std::string& id) override;
  std::vector<RunningApplication> runningApplications() override;
  void open(const std::string& path, std::function<void(std::exception_ptr)> done) override;

 private:
  const std::vector<LinuxDesktopEntry>& linuxEntries();
  // Where the process with this window was started from, with its bundle identifier.
  std::optional<RunningApplication> origin(long pid, const std::string& instance,
                                           const std::string& windowClass);

  std::optional<std::vector<LinuxDesktopEntry>> entries_;
};

}  // namespace earshot::linux_platform
