#include "support/KWinDesktop.hpp"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/SessionBus.hpp"

namespace fs = std::filesystem;

namespace earshot::testing {

namespace {
constexpr const char* socketName = "wayland-earshot";
constexpr const char* userName = "earshot-kwin";
constexpr const char* userRun = "EARSHOT_KWIN_USER_RUN";

// Debian keeps it under the multiarch folder (/usr/lib/x86_64-linux-gnu/libexec).
std::string kdePortal() {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib", error)) {
    const auto candidate = entry.path() / "libexec/xdg-desktop-portal-kde";
    if (fs::exists(candidate, error)) return candidate.string();
  }
  return "/usr/libexec/xdg-desktop-portal-kde";
}
}  // namespace

KWinDesktop::KWinDesktop(const std::string& fakeInput) {
  if (!start(fakeInput) && failure_.empty()) failure_ = "the desktop did not start";
}

KWinDesktop::~KWinDesktop() {
  monitor_.reset();
  fakeInput_.reset();
  portal_.reset();
  kdePortal_.reset();
  kwin_.reset();
  bus_.reset();
}

bool KWinDesktop::awaitName(const std::string& name, int tenths) const {
  RunOptions options;
  options.timeout = std::chrono::seconds(5);
  for (int k = 0; k < tenths; ++k) {
    const auto result =
        run(programPath("gdbus"),
            {"call", "--address", address_, "--dest", "org.freedesktop.DBus", "--object-path",
             "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", name},
            options);
    if (result.status == 0 && result.out.find("true") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool KWinDesktop::start(const std::string& fakeInput) {
  const std::string runtime = folder_.file("runtime");
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  fs::create_directories(folder_.file("home"));
  // A copy carries no file capability, so KWin runs as a plain process of this user.
  const std::string kwin = folder_.file("kwin_wayland");
  std::error_code error;
  if (!fs::copy_file("/usr/bin/kwin_wayland", kwin, error)) {
    failure_ = "no /usr/bin/kwin_wayland to copy";
    return false;
  }
  bus_ = startSessionBus(folder_.file("bus.conf"), runtime + "/bus", address_);
  if (address_.empty()) {
    failure_ = "no session bus";
    return false;
  }
  auto environment = this->environment();
  environment["WAYLAND_DISPLAY"] = "";
  environment["EARSHOT_HOTKEYS"] = "";
  environment["KWIN_WAYLAND_NO_PERMISSION_CHECKS"] = "1";
  kwin_ = std::make_unique<Child>(
      kwin,
      std::vector<std::string>{"--virtual", "--no-lockscreen", "--socket", socketName, "--width",
                               "640", "--height", "480"},
      environment, Child::Ending::kill);
  // KWin hosts kglobalaccel, which the KDE portal asks for the shortcuts.
  if (!awaitName("org.kde.kglobalaccel", 300) || !fs::exists(runtime + "/" + socketName)) {
    failure_ = "KWin did not start";
    return false;
  }
  // Its shortcuts need no window: it runs without a display.
  environment = this->environment();
  environment["QT_QPA_PLATFORM"] = "offscreen";
  kdePortal_ = std::make_unique<Child>(kdePortal(), std::vector<std::string>{}, environment,
                                       Child::Ending::kill);
  if (!awaitName("org.freedesktop.impl.portal.desktop.kde", 300)) {
    failure_ = "xdg-desktop-portal-kde did not start";
    return false;
  }
  portal_ = std::make_unique<Child>("/usr/libexec/xdg-desktop-portal", std::vector<std::string>{},
                                    this->environment(), Child::Ending::kill);
  if (!awaitName("org.freedesktop.portal.Desktop", 300)) {
    failure_ = "xdg-desktop-portal did not start";
    return false;
  }
  monitor_ = std::make_unique<Child>(
      programPath("dbus-monitor"),
      std::vector<std::string>{"--address", address_,
                               "type='signal',interface='org.freedesktop.portal.GlobalShortcuts'"},
      std::map<std::string, std::string>{}, Child::Ending::kill);
  fakeInput_ = std::make_unique<Child>(fakeInput, std::vector<std::string>{}, this->environment(),
                                       Child::Ending::closeInput);
  const std::string ready = fakeInput_->readLine();
  if (ready != "ready") {
    failure_ = "the fake-input client: " + ready;
    return false;
  }
  return true;
}

std::map<std::string, std::string> KWinDesktop::environment() const {
  return {{"DBUS_SESSION_BUS_ADDRESS", address_},
          {"XDG_SESSION_TYPE", "wayland"},
          {"XDG_CURRENT_DESKTOP", "KDE"},
          {"XDG_RUNTIME_DIR", folder_.file("runtime")},
          {"HOME", folder_.file("home")},
          {"XDG_CONFIG_HOME", ""},
          {"XDG_DATA_HOME", ""},
          {"XDG_CACHE_HOME", ""},
          {"DISPLAY", ""},
          {"WAYLAND_DISPLAY", socketName},
          {"QT_QPA_PLATFORM", ""},
          {"EARSHOT_HOTKEYS", "portal"}};
}

bool KWinDesktop::key(const std::string& verb, const std::vector<unsigned>& codes) {
  if (!fakeInput_) return false;
  for (unsigned code : codes) {
    if (!fakeInput_->send(verb + " " + std::to_string(code))) return false;
    if (fakeInput_->readLine() != "ok") return false;
  }
  return true;
}

bool KWinDesktop::press(const std::vector<unsigned>& codes) {
  return key("press", codes);
}

bool KWinDesktop::release(const std::vector<unsigned>& codes) {
  return key("release", codes);
}

std::vector<std::string> KWinDesktop::portalSignals() {
  std::vector<std::string> members;
  if (!monitor_) return members;
  for (std::string line; !(line = monitor_->readLine(std::chrono::milliseconds(300))).empty();) {
    // The monitor's own NameAcquired and NameLost come too.
    if (line.rfind("signal ", 0) != 0 ||
        line.find("interface=org.freedesktop.portal.GlobalShortcuts;") == std::string::npos)
      continue;
    const auto at = line.find("member=") + 7;
    members.push_back(line.substr(at, line.find_first_of(" ;", at) - at));
  }
  return members;
}

std::string copiedProgram(const std::string& name, const std::string& fallback) {
  const char* copy = std::getenv(name.c_str());
  return copy && *copy ? copy : fallback;
}

int runAsDesktopUser(int argc, char** argv, const std::vector<std::string>& programs) {
  (void)argc;
  if (std::getenv(userRun)) return -1;
  const bool root = geteuid() == 0;
  std::string self = fs::read_symlink("/proc/self/exe").string();
  std::map<std::string, std::string> copies;
  std::string place;
  uid_t uid = 0;
  gid_t gid = 0;
  if (root) {
    if (!getpwnam(userName)) {
      const auto made =
          run("/usr/sbin/useradd", {"--system", "--user-group", "--no-create-home", "--home-dir",
                                    "/nonexistent", "--shell", "/usr/sbin/nologin", userName});
      if (made.status != 0) std::fprintf(stderr, "useradd: %s", made.err.c_str());
    }
    const passwd* user = getpwnam(userName);
    if (!user) {
      std::fprintf(stderr, "no user %s\n", userName);
      return 1;
    }
    uid = user->pw_uid;
    gid = user->pw_gid;
    // The build folder may be out of that user's reach (under /root, say).
    std::string pattern = "/tmp/earshot-kwin-XXXXXX";
    if (!mkdtemp(pattern.data())) return 1;
    place = pattern;
    fs::permissions(place, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    auto copy = [&](const std::string& from) {
      const std::string to = place + "/" + fs::path(from).filename().string();
      std::error_code error;
      fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
      return to;
    };
    self = copy(self);
    // Its temporary folders go with the copies, also those of a run that crashed.
    fs::create_directory(place + "/tmp");
    if (chown((place + "/tmp").c_str(), uid, gid) != 0) return 1;
    for (const auto& program : programs) {
      const auto equals = program.find('=');
      copies[program.substr(0, equals)] = copy(program.substr(equals + 1));
    }
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    setenv(userRun, "1", 1);
    for (const auto& [name, path] : copies) setenv(name.c_str(), path.c_str(), 1);
    if (root) {
      setenv("TMPDIR", (place + "/tmp").c_str(), 1);
      setenv("HOME", "/nonexistent", 1);
      if (chdir("/") != 0 || setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
        _exit(126);
    }
    execv(self.c_str(), argv);
    _exit(127);
  }
  if (pid < 0) return 1;
  setpgid(pid, pid);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // Whatever the run left behind (KWin, the portals, the bus, the sound server) goes with it.
  kill(-pid, SIGKILL);
  if (!place.empty()) {
    std::error_code ignored;
    fs::remove_all(place, ignored);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace earshot::testing
