#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace earshot {

// A freedesktop desktop entry as the catalog needs it.
struct DesktopEntry {
  std::string id;               // desktop-file ID, such as "org.gnome.Calendar.desktop"
  std::string path;             // the desktop file
  std::string name;             // Name localized to the user's locale
  std::string unlocalizedName;  // Name
  std::vector<std::string> portugueseNames;  // Name[pt_BR], Name[pt], Name[pt_PT] as present
  bool hidden = false;  // NoDisplay=true, Hidden=true, or not shown on this desktop
};

// An application that runs for the current user.
struct RunningApplication {
  std::optional<std::string> bundleIdentifier;
  // Where it was started from: an application bundle or a desktop file.
  std::optional<std::string> bundleLocation;
  bool regular = true;  // an ordinary application with a window of its own
};

// The machine's applications: folders, names, what runs, and launching.
class Workspace {
 public:
  virtual ~Workspace() = default;

  virtual std::string homeFolder() const = 0;
  // Paths of the folder's direct children, hidden ones included; nothing when it cannot be listed.
  virtual std::optional<std::vector<std::string>> contentsOfDirectory(
      const std::string& folder) const = 0;
  // The name a file browser shows for the path.
  virtual std::string displayName(const std::string& path) const = 0;
  // The path with every symbolic link resolved; unchanged when it cannot be resolved.
  virtual std::string resolvingSymlinks(const std::string& path) const = 0;
  // The bytes of a file inside a bundle. Only a regular file is read, and never by waiting: a FIFO,
  // a device or a missing file gives nothing, as does one larger than `limit`.
  virtual std::optional<std::string> readFile(const std::string& path, std::size_t limit) const = 0;

  // Every desktop entry, hidden ones included, in precedence order; an ID found first shadows later
  // ones. Read afresh at each call: a long-running mode scans again to see new applications.
  virtual std::vector<DesktopEntry> desktopEntries() = 0;
  // The desktop entry stored in one file, read under the given ID.
  virtual std::optional<DesktopEntry> desktopEntry(const std::string& path,
                                                   const std::string& id) = 0;

  virtual std::vector<RunningApplication> runningApplications() = 0;

  // Launches the application at `path` (a bundle or a desktop file), or brings it to the front when
  // it already runs. `done` is called once, on any thread, with nothing or the error.
  virtual void open(const std::string& path, std::function<void(std::exception_ptr)> done) = 0;
};

}  // namespace earshot
