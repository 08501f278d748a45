#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Workspace.hpp"

namespace earshot::linux_platform {

// A desktop entry with what only the Linux side needs.
struct LinuxDesktopEntry {
  DesktopEntry entry;
  std::string windowClass;  // StartupWMClass, or empty
  std::string tryExec;      // TryExec: a program that must exist for the entry to count, or empty
};

// The desktops named by $XDG_CURRENT_DESKTOP, in order.
std::vector<std::string> currentDesktops();

// Whether the current desktop, known by `desktops`, shows an entry with these OnlyShowIn and
// NotShowIn lists (the freedesktop rule: the first current desktop named by either list decides;
// when none is named, only an entry without OnlyShowIn is shown).
bool shownOn(const std::vector<std::string>& desktops, const std::vector<std::string>& onlyShowIn,
             const std::vector<std::string>& notShowIn);

// Reads the text of one desktop file. Nothing when it has no [Desktop Entry] group or no Name; an
// entry that is not an application, says NoDisplay or Hidden, or is not for the current desktop
// (OnlyShowIn, NotShowIn) comes back hidden.
std::optional<LinuxDesktopEntry> parseDesktopEntry(std::string_view data, const std::string& id,
                                                   const std::string& path);

// One desktop file read from disk (a regular file only): as parseDesktopEntry, and hidden too
// when its TryExec program is not installed.
std::optional<LinuxDesktopEntry> readDesktopFile(const std::string& path, const std::string& id);

// The "applications" folders in precedence order: $XDG_DATA_HOME (or ~/.local/share), then each of
// $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
std::vector<std::string> applicationFolders(const std::string& homeFolder);

// The desktop-file ID of a file below one of `folders`, or its file name when it is below none.
std::string desktopFileID(const std::string& path, const std::vector<std::string>& folders);

// Every desktop entry of the folders, sub-folders included; the first file of an ID wins. Each real
// folder is read once however many links lead to it, a link back above the folder is not followed,
// and a walk stops after 1000 folders or 8 levels down, so no folder tree can make it fail or last.
std::vector<LinuxDesktopEntry> readDesktopEntries(const std::vector<std::string>& folders);

}  // namespace earshot::linux_platform
