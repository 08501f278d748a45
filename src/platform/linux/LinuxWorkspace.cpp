#include "platform/linux/LinuxWorkspace.hpp"

#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "formats/PropertyList.hpp"
#include "platform/PlatformError.hpp"
#include "platform/linux/Files.hpp"
#include "platform/linux/GLibSilence.hpp"
#include "platform/linux/Process.hpp"
#include "platform/linux/X11Windows.hpp"

namespace earshot::linux_platform {

namespace {

PlatformError workspaceError(WorkspaceError code, std::string message) {
  return PlatformError("earshot.workspace", static_cast<long>(code), std::move(message));
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The value of `name` in a process's environment, read from /proc.
std::optional<std::string> environmentOf(long pid, std::string_view name) {
  auto data = readRegularFile("/proc/" + std::to_string(pid) + "/environ", 4u << 20);
  if (!data) return std::nullopt;
  std::string_view rest = *data;
  while (!rest.empty()) {
    auto end = rest.find('\0');
    std::string_view item = rest.substr(0, end);
    if (item.size() > name.size() && item.starts_with(name) && item[name.size()] == '=') {
      return std::string(item.substr(name.size() + 1));
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return std::nullopt;
}

// The application bundle whose executable the process runs: ".../Name.app/Contents/MacOS/...".
std::optional<std::string> bundleOf(long pid) {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
  if (error) return std::nullopt;
  auto at = exe.rfind(".app/Contents/MacOS/");
  if (at == std::string::npos) return std::nullopt;
  return exe.substr(0, at + 4);
}

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

PlatformError fromGError(GError* error) {
  PlatformError out(g_quark_to_string(error->domain), error->code, error->message);
  g_error_free(error);
  return out;
}

void launchDesktopFile(const std::string& path,
                       const std::function<void(std::exception_ptr)>& done) {
  std::unique_ptr<GDesktopAppInfo, ObjectUnref> info(
      g_desktop_app_info_new_from_filename(path.c_str()));
  if (!info) {
    done(std::make_exception_ptr(
        workspaceError(WorkspaceError::invalidDesktopEntry,
                       "The desktop entry " + path +
                           " cannot be launched: it is invalid or its program is missing.")));
    return;
  }
  std::unique_ptr<GAppLaunchContext, ObjectUnref> context(g_app_launch_context_new());
  // The application gets the session bus it would have had without us: none named.
  if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
      bus && std::string_view(bus) == noSessionBus)
    g_app_launch_context_unsetenv(context.get(), "DBUS_SESSION_BUS_ADDRESS");
  // The launched application must not write into the host's streams.
  int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  GError* error = nullptr;
  gboolean launched = g_desktop_app_info_launch_uris_as_manager_with_fds(
      info.get(), nullptr, context.get(), G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr,
      null, null, null, &error);
  if (null >= 0) ::close(null);
  if (!launched) {
    done(std::make_exception_ptr(
        error ? fromGError(error)
              : workspaceError(WorkspaceError::launchFailed, "The launch failed.")));
    return;
  }
  done(nullptr);
}

}  // namespace

LinuxWorkspace::LinuxWorkspace() {
  silenceGLib();
}

std::string LinuxWorkspace::homeFolder() const {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) return user->pw_dir;
  return "/";
}

std::optional<std::vector<std::string>> LinuxWorkspace::contentsOfDirectory(
    const std::string& folder) const {
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  if (error) return std::nullopt;
  std::vector<std::string> children;
  for (std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    if (error) break;
    children.push_back(folder + "/" + it->path().filename().string());
  }
  std::sort(children.begin(), children.end());
  return children;
}

std::string LinuxWorkspace::displayName(const std::string& path) const {
  return std::filesystem::path(path).filename().string();
}

std::string LinuxWorkspace::resolvingSymlinks(const std::string& path) const {
  std::error_code error;
  auto resolved = std::filesystem::canonical(path, error);
  return error ? path : resolved.string();
}

std::optional<std::string> LinuxWorkspace::readFile(const std::string& path,
                                                    std::size_t limit) const {
  return readRegularFile(path, limit);
}

const std::vector<LinuxDesktopEntry>& LinuxWorkspace::linuxEntries() {
  if (!entries_) entries_ = readDesktopEntries(applicationFolders(homeFolder()));
  return *entries_;
}

std::vector<DesktopEntry> LinuxWorkspace::desktopEntries() {
  entries_.reset();
  std::vector<DesktopEntry> out;
  for (const auto& known : linuxEntries()) out.push_back(known.entry);
  return out;
}

std::optional<DesktopEntry> LinuxWorkspace::desktopEntry(const std::string& path,
                                                         const std::string& id) {
  auto entry = readDesktopFile(path, id);
  if (!entry) return std::nullopt;
  return entry->entry;
}

std::optional<RunningApplication> LinuxWorkspace::origin(long pid, const std::string& instance,
                                                         const std::string& windowClass) {
  if (pid > 0) {
    // GIO marks what it launches with the desktop file it came from.
    auto file = environmentOf(pid, "GIO_LAUNCHED_DESKTOP_FILE");
    auto filePid = environmentOf(pid, "GIO_LAUNCHED_DESKTOP_FILE_PID");
    if (file && !file->empty() && filePid == std::to_string(pid)) {
      return RunningApplication{desktopFileID(*file, applicationFolders(homeFolder())), *file,
                                true};
    }
    if (auto bundle = bundleOf(pid)) {
      auto bytes = readRegularFile(*bundle + "/Contents/Info.plist", 16u << 20);
      const auto info = bytes ? PropertyDictionary::parse(*bytes) : PropertyDictionary();
      return RunningApplication{info.text("CFBundleIdentifier"), *bundle, true};
    }
  }
  // Otherwise the window's class names its desktop entry.
  const std::string name = lowered(instance);
  const std::string kind = lowered(windowClass);
  if (name.empty() && kind.empty()) return std::nullopt;
  for (const auto& known : linuxEntries()) {
    const std::string wmClass = lowered(known.windowClass);
    std::string stem = lowered(known.entry.id);
    if (stem.ends_with(".desktop")) stem.resize(stem.size() - 8);
    if ((!wmClass.empty() && (wmClass == kind || wmClass == name)) || stem == kind ||
        stem == name) {
      return RunningApplication{known.entry.id, known.entry.path, true};
    }
  }
  return std::nullopt;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
  std::vector<RunningApplication> out;
  auto windows = X11Windows::open();
  if (!windows) return out;
  std::vector<long> seen;
  for (const auto& client : windows->clients()) {
    if (client.pid > 0) {
      if (std::find(seen.begin(), seen.end(), client.pid) != seen.end()) continue;
      seen.push_back(client.pid);
    }
    if (auto running = origin(client.pid, client.instance, client.windowClass))
      out.push_back(std::move(*running));
  }
  return out;
}

void LinuxWorkspace::open(const std::string& path, std::function<void(std::exception_ptr)> done) {
  // Already running: bring its newest window to the front instead of starting a second copy.
  if (auto windows = X11Windows::open()) {
    const std::string resolved = resolvingSymlinks(path);
    auto clients = windows->clients();
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
      auto running = origin(it->pid, it->instance, it->windowClass);
      if (!running || !running->bundleLocation) continue;
      if (*running->bundleLocation != path &&
          resolvingSymlinks(*running->bundleLocation) != resolved)
        continue;
      if (windows->activate(it->window)) {
        done(nullptr);
      } else {
        done(std::make_exception_ptr(
            workspaceError(WorkspaceError::notBroughtForward,
                           "The window of " + path + " cannot be brought to the front.")));
      }
      return;
    }
  }
  if (!path.ends_with(".desktop")) {
    done(std::make_exception_ptr(workspaceError(
        WorkspaceError::macOSBundle,
        "The application bundle " + path + " is for macOS and cannot be launched here.")));
    return;
  }
  // Spawning may block; the time limit keeps running on the main loop meanwhile.
  std::thread([path, done = std::move(done)] { launchDesktopFile(path, done); }).detach();
}

}  // namespace earshot::linux_platform
