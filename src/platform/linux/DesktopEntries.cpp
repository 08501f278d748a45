#include "platform/linux/DesktopEntries.hpp"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>

#include "formats/PropertyList.hpp"
#include "platform/linux/Files.hpp"
#include "platform/linux/GLibSilence.hpp"

namespace earshot::linux_platform {

namespace {

constexpr const char* group = "Desktop Entry";

struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};

std::optional<std::string> text(GKeyFile* file, const char* key) {
  gchar* value = g_key_file_get_string(file, group, key, nullptr);
  if (!value) return std::nullopt;
  std::string out = value;
  g_free(value);
  return out;
}

std::vector<std::string> list(GKeyFile* file, const char* key) {
  std::vector<std::string> out;
  gchar** values = g_key_file_get_string_list(file, group, key, nullptr, nullptr);
  for (gchar** value = values; value && *value; ++value) out.emplace_back(*value);
  g_strfreev(values);
  return out;
}

bool flag(GKeyFile* file, const char* key) {
  GError* error = nullptr;
  gboolean value = g_key_file_get_boolean(file, group, key, &error);
  if (error) {
    g_error_free(error);
    return false;
  }
  return value;
}

// Limits of one folder's walk: a link to a large tree must not hold up a lookup.
constexpr int maxDepth = 8;
constexpr std::size_t maxFolders = 1000;

struct FoundFile {
  std::filesystem::path relative;  // below the walked folder, for the order
  std::string id;
  std::string path;
};

using FolderKey = std::pair<dev_t, ino_t>;

// The real folders above `folder`, itself excluded: a link back to one of them (to "/", say) is a
// loop too.
std::set<FolderKey> ancestors(const std::filesystem::path& folder) {
  std::set<FolderKey> out;
  std::error_code error;
  const auto real = std::filesystem::canonical(folder, error);
  if (error) return out;
  for (auto above = real.parent_path(); !above.empty(); above = above.parent_path()) {
    struct stat status {};
    if (::stat(above.c_str(), &status) == 0) out.emplace(status.st_dev, status.st_ino);
    if (above == above.parent_path()) break;
  }
  return out;
}

// Every desktop file below `folder`. Sub-folders (links included) are visited breadth first, each
// real folder once whatever the links that lead to it and never one above `folder`, so loops end
// and the shallowest way to a folder names its entries. The result is in the order of a
// depth-first walk of sorted folders.
std::vector<FoundFile> walk(const std::filesystem::path& folder) {
  struct Pending {
    std::filesystem::path path;
    std::filesystem::path relative;
    std::string prefix;
    int depth;
  };
  std::vector<FoundFile> found;
  std::set<FolderKey> visited = ancestors(folder);
  std::deque<Pending> queue{{folder, {}, "", 0}};
  std::size_t folders = 0;
  while (!queue.empty() && folders < maxFolders) {
    Pending current = std::move(queue.front());
    queue.pop_front();
    struct stat status {};
    if (::stat(current.path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) continue;
    if (!visited.emplace(status.st_dev, status.st_ino).second) continue;
    ++folders;
    std::error_code error;
    std::vector<std::filesystem::directory_entry> children;
    for (std::filesystem::directory_iterator it(current.path, error), end; !error && it != end;
         it.increment(error)) {
      children.push_back(*it);
    }
    std::sort(children.begin(), children.end());
    for (const auto& child : children) {
      const std::string name = child.path().filename().string();
      if (child.is_directory(error)) {
        if (current.depth < maxDepth)
          queue.push_back({child.path(), current.relative / name, current.prefix + name + "-",
                           current.depth + 1});
      } else if (name.ends_with(".desktop") && child.is_regular_file(error)) {
        found.push_back({current.relative / name, current.prefix + name, child.path().string()});
      }
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const FoundFile& a, const FoundFile& b) { return a.relative < b.relative; });
  return found;
}

}  // namespace

std::optional<LinuxDesktopEntry> parseDesktopEntry(std::string_view data, const std::string& id,
                                                   const std::string& path) {
  silenceGLib();
  std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
  if (!g_key_file_load_from_data(file.get(), data.data(), data.size(), G_KEY_FILE_KEEP_TRANSLATIONS,
                                 nullptr)) {
    return std::nullopt;
  }
  if (!g_key_file_has_group(file.get(), group)) return std::nullopt;
  auto unlocalized = text(file.get(), "Name");
  if (!unlocalized) return std::nullopt;

  LinuxDesktopEntry out;
  out.entry.id = id;
  out.entry.path = path;
  out.entry.unlocalizedName = *unlocalized;
  gchar* localized = g_key_file_get_locale_string(file.get(), group, "Name", nullptr, nullptr);
  out.entry.name = localized ? localized : *unlocalized;
  g_free(localized);
  for (const char* key : {"Name[pt_BR]", "Name[pt]", "Name[pt_PT]"}) {
    auto name = text(file.get(), key);
    auto& names = out.entry.portugueseNames;
    if (name && !name->empty() && std::find(names.begin(), names.end(), *name) == names.end()) {
      names.push_back(*name);
    }
  }
  out.entry.hidden =
      text(file.get(), "Type").value_or("") != "Application" || flag(file.get(), "NoDisplay") ||
      flag(file.get(), "Hidden") ||
      !shownOn(currentDesktops(), list(file.get(), "OnlyShowIn"), list(file.get(), "NotShowIn"));
  out.windowClass = text(file.get(), "StartupWMClass").value_or("");
  out.tryExec = text(file.get(), "TryExec").value_or("");
  return out;
}

std::vector<std::string> currentDesktops() {
  std::vector<std::string> desktops;
  const char* value = std::getenv("XDG_CURRENT_DESKTOP");
  std::string_view rest = value ? value : "";
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    if (colon != 0) desktops.emplace_back(rest.substr(0, colon));
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return desktops;
}

bool shownOn(const std::vector<std::string>& desktops, const std::vector<std::string>& onlyShowIn,
             const std::vector<std::string>& notShowIn) {
  // The first of the current desktops that either list names decides, as GIO and menus do.
  auto names = [](const std::vector<std::string>& list, const std::string& desktop) {
    return std::find(list.begin(), list.end(), desktop) != list.end();
  };
  for (const auto& desktop : desktops) {
    if (names(onlyShowIn, desktop)) return true;
    if (names(notShowIn, desktop)) return false;
  }
  return onlyShowIn.empty();
}

std::optional<LinuxDesktopEntry> readDesktopFile(const std::string& path, const std::string& id) {
  auto data = readRegularFile(path, 1u << 20);
  if (!data) return std::nullopt;
  auto entry = parseDesktopEntry(*data, id, path);
  if (entry && !entry->tryExec.empty()) {
    // An absolute path must be an executable file; a bare name is looked up in $PATH.
    gchar* found = g_find_program_in_path(entry->tryExec.c_str());
    if (!found) entry->entry.hidden = true;
    g_free(found);
  }
  return entry;
}

std::vector<std::string> applicationFolders(const std::string& homeFolder) {
  std::vector<std::string> folders;
  auto add = [&](std::string base) {
    // Relative entries are invalid and ignored.
    if (base.empty() || base.front() != '/') return;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string folder = base + "/applications";
    if (std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(folder);
  };
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  add(dataHome && *dataHome ? std::string(dataHome) : homeFolder + "/.local/share");
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::string dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share/:/usr/share/";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    auto colon = dirs.find(':', start);
    add(dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return folders;
}

std::string desktopFileID(const std::string& path, const std::vector<std::string>& folders) {
  for (const auto& folder : folders) {
    if (path.size() > folder.size() + 1 && path.starts_with(folder) && path[folder.size()] == '/') {
      std::string id = path.substr(folder.size() + 1);
      std::replace(id.begin(), id.end(), '/', '-');
      return id;
    }
  }
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<LinuxDesktopEntry> readDesktopEntries(const std::vector<std::string>& folders) {
  std::vector<LinuxDesktopEntry> entries;
  std::set<std::string> seen;
  for (const auto& folder : folders) {
    for (const auto& [relative, id, path] : walk(folder)) {
      if (!seen.insert(id).second) continue;
      if (auto entry = readDesktopFile(path, id)) entries.push_back(std::move(*entry));
    }
  }
  return entries;
}

}  // namespace earshot::linux_platform
