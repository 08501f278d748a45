#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/AppFixtures.hpp"
#include "support/Child.hpp"
#include "support/Process.hpp"
#include "support/SilentXServer.hpp"
#include "support/XServer.hpp"

// After the test headers: Xlib's macros would break them.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace earshot::testing;
using nlohmann::json;

namespace {

// A machine of fixtures: a home with an Applications folder and private XDG folders.
class Machine {
 public:
  Machine() {
    const std::string apps = home() + "/Applications";
    std::string notes = makeBundle(
        apps, "Notes.app",
        PlistDictionary{{"CFBundleIdentifier", "com.apple.Notes"}, {"CFBundleName", "Notes"}},
        PlistForm::binary);
    writeFile(notes + "/Contents/Resources/InfoPlist.loctable",
              plistBytes({{"pt_BR", PlistValue::of({{"CFBundleDisplayName", "Notas"}})}},
                         PlistForm::binary));
    std::string mail =
        makeBundle(apps, "Mail.app", PlistDictionary{{"CFBundleIdentifier", "com.apple.mail"}});
    writeFile(mail + "/Contents/Resources/pt-BR.lproj/InfoPlist.strings",
              utf16("\"CFBundleDisplayName\" = \"Correio Eletrônico\";"));
    makeBundle(apps, "Pixelmator Pro.app",
               PlistDictionary{{"CFBundleIdentifier", "com.pixelmator"}});
    makeBundle(apps, "Bartender.app",
               PlistDictionary{{"CFBundleIdentifier", "bartender"},
                               {"LSUIElement", PlistValue::of(true)}});
    makeDesktopFile(dataHome() + "/applications/org.example.Editor.desktop",
                    {"Type=Application", "Name=Text Editor", "Name[pt_BR]=Editor de Texto",
                     std::string("Exec=") + EARSHOT_FIXTURE_APP + " fixture-editor"});
    makeDesktopFile(dataHome() + "/applications/broken.desktop",
                    {"Type=Application", "Name=Broken Tool", "Exec=/nonexistent/broken-tool"});
    makeDesktopFile(dataHome() + "/applications/secret.desktop",
                    {"Type=Application", "Name=Secret Tool", "NoDisplay=true", "Exec=true"});
    // Not installed: its TryExec program is missing.
    makeDesktopFile(dataHome() + "/applications/absent.desktop",
                    {"Type=Application", "Name=Absent Tool", "TryExec=/nonexistent/absent-tool",
                     "Exec=/nonexistent/absent-tool"});
  }

  std::string home() const { return folder_.path() + "/home"; }
  std::string dataHome() const { return folder_.path() + "/data"; }

  RunResult run(const std::vector<std::string>& arguments, const std::string& display = "",
                const std::map<std::string, std::string>& more = {}) const {
    RunOptions options;
    options.environment = {{"HOME", home()},
                           {"XDG_DATA_HOME", dataHome()},
                           {"XDG_DATA_DIRS", folder_.path() + "/none"},
                           {"DISPLAY", display},
                           // No session bus: GIO must not start one for us.
                           {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder_.path() + "/no-bus"},
                           {"LANGUAGE", ""},
                           {"LC_ALL", "C"},
                           {"XDG_CURRENT_DESKTOP", ""}};
    for (const auto& [name, value] : more) options.environment[name] = value;
    options.timeout = std::chrono::seconds(20);
    return earshot::testing::run(EARSHOT_BINARY, arguments, options);
  }

 private:
  TemporaryFolder folder_;
};

json app(const std::string& name, const std::string& path) {
  return {{"event", "app"}, {"name", name}, {"path", path}};
}

void expectOnly(const RunResult& result, const json& event, int status) {
  EXPECT_EQ(result.status, status) << result.out;
  EXPECT_EQ(result.events(), std::vector<json>{event});
  EXPECT_EQ(result.err, "");
}

const json notFound{{"event", "error"}, {"reason", "not-found"}};

// The live processes whose parent is this one, each as "pid command line"; zombies are reaped.
std::vector<std::string> liveChildren() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // "pid (name) state parent ...": the name may hold spaces and parentheses.
    const auto name = line.rfind(')');
    if (name == std::string::npos) continue;
    std::istringstream rest(line.substr(name + 1));
    char state = 0;
    long parent = 0;
    rest >> state >> parent;
    if (parent != getpid() || state == 'Z') continue;
    std::ifstream file(entry.path() / "cmdline");
    std::string command((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::replace(command.begin(), command.end(), '\0', ' ');
    out.push_back(pid + " " + command);
  }
  return out;
}

// What the X server says about the managed windows.
struct ManagedWindow {
  unsigned long id;
  long pid;
  std::string windowClass;
};

class XQuery {
 public:
  explicit XQuery(const std::string& display) : x_(XOpenDisplay(display.c_str())) {
    // A window may go between two requests.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~XQuery() {
    if (x_) XCloseDisplay(x_);
  }
  std::vector<unsigned long> longs(::Window window, const char* name, Atom type) {
    std::vector<unsigned long> out;
    Atom actual;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(x_, window, XInternAtom(x_, name, False), 0, 4096, False, type, &actual,
                           &format, &count, &after, &data) == Success &&
        data) {
      if (format == 32)
        out.assign(reinterpret_cast<unsigned long*>(data),
                   reinterpret_cast<unsigned long*>(data) + count);
      XFree(data);
    }
    return out;
  }
  std::vector<ManagedWindow> clients() {
    std::vector<ManagedWindow> out;
    for (unsigned long id : longs(DefaultRootWindow(x_), "_NET_CLIENT_LIST", XA_WINDOW)) {
      auto pid = longs(id, "_NET_WM_PID", XA_CARDINAL);
      XClassHint hint{nullptr, nullptr};
      std::string windowClass;
      if (XGetClassHint(x_, id, &hint)) {
        windowClass = hint.res_class ? hint.res_class : "";
        XFree(hint.res_name);
        XFree(hint.res_class);
      }
      out.push_back({id, pid.empty() ? 0 : static_cast<long>(pid[0]), windowClass});
    }
    return out;
  }
  std::vector<ManagedWindow> clientsOf(const std::string& windowClass) {
    std::vector<ManagedWindow> out;
    for (const auto& client : clients()) {
      if (client.windowClass == windowClass) out.push_back(client);
    }
    return out;
  }
  unsigned long active() {
    auto value = longs(DefaultRootWindow(x_), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return value.empty() ? 0 : value[0];
  }
  // Polls until `count` windows of the class are managed.
  std::vector<ManagedWindow> waitFor(const std::string& windowClass, std::size_t count) {
    for (int i = 0; i < 500; ++i) {
      auto found = clientsOf(windowClass);
      if (found.size() >= count) return found;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return clientsOf(windowClass);
  }

 private:
  Display* x_;
};

}  // namespace

TEST(LookupCommand, FindAnswersInBothLanguages) {
  Machine machine;
  const std::string apps = machine.home() + "/Applications";
  expectOnly(machine.run({"--find", "notas"}), app("Notas", apps + "/Notes.app"), 0);
  expectOnly(machine.run({"--find", "notas", "--language", "en"}),
             app("Notes", apps + "/Notes.app"), 0);
  expectOnly(machine.run({"--find", "o aplicativo de email"}),
             app("Correio Eletrônico", apps + "/Mail.app"), 0);
  expectOnly(
      machine.run({"--find", "editor de texto"}),
      app("Editor de Texto", machine.dataHome() + "/applications/org.example.Editor.desktop"), 0);
  expectOnly(machine.run({"--find", "Text Editor", "--language", "en"}),
             app("Text Editor", machine.dataHome() + "/applications/org.example.Editor.desktop"),
             0);
  expectOnly(machine.run({"--find", "pixelmater pro"}),
             app("Pixelmator Pro", apps + "/Pixelmator Pro.app"), 0);
  expectOnly(machine.run({"--find", "correio", "--exact", "--language", "en"}),
             app("Mail", apps + "/Mail.app"), 0);
  expectOnly(machine.run({"--exact", "--find", "Notas"}), app("Notas", apps + "/Notes.app"), 0);
}

TEST(LookupCommand, NotFoundExactAndLeftOut) {
  Machine machine;
  expectOnly(machine.run({"--find", "pixelmater pro", "--exact"}), notFound, 1);
  expectOnly(machine.run({"--find", "bartender"}), notFound, 1);    // an agent application
  expectOnly(machine.run({"--find", "secret tool"}), notFound, 1);  // NoDisplay
  expectOnly(machine.run({"--find", "absent tool"}), notFound, 1);  // TryExec missing
  expectOnly(machine.run({"--find", "?!"}), notFound, 1);
  expectOnly(machine.run({"--open", "nothing like it"}), notFound, 1);
  expectOnly(machine.run({"--find", "--exact"}), notFound, 1);
}

TEST(LookupCommand, OpenWithoutADisplayFailsClearly) {
  Machine machine;
  auto bundle = machine.run({"--open", "notes"});
  EXPECT_EQ(bundle.status, 1);
  ASSERT_EQ(bundle.events().size(), 1u) << bundle.out;
  EXPECT_EQ(bundle.events()[0]["reason"], "failed");
  EXPECT_NE(bundle.events()[0]["detail"].get<std::string>().find("macOS"), std::string::npos);
  EXPECT_EQ(bundle.err, "");

  auto broken = machine.run({"--open", "broken tool"});
  EXPECT_EQ(broken.status, 1);
  ASSERT_EQ(broken.events().size(), 1u) << broken.out;
  EXPECT_EQ(broken.events()[0]["reason"], "failed");
  EXPECT_NE(broken.events()[0]["detail"].get<std::string>().find("Error Domain="),
            std::string::npos);
  EXPECT_EQ(broken.err, "");
}

TEST(LookupCommand, OpenStartsTheAppOnceThenBringsItToTheFront) {
  XServer server;
  ASSERT_TRUE(server.running());
  Child manager(EARSHOT_STAND_IN_WM, {}, {{"DISPLAY", server.display()}}, Child::Ending::kill);
  ASSERT_EQ(manager.readLine(), "ready");
  Machine machine;
  XQuery x(server.display());
  const std::string editor = machine.dataHome() + "/applications/org.example.Editor.desktop";

  // Killed at the end whatever happens: every window's process.
  struct Cleanup {
    XQuery& x;
    ~Cleanup() {
      for (const auto& client : x.clients()) killProcess(static_cast<pid_t>(client.pid));
    }
  } cleanup{x};

  expectOnly(machine.run({"--open", "editor de texto"}, server.display()),
             app("Editor de Texto", editor), 0);
  auto started = x.waitFor("fixture-editor", 1);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_GT(started[0].pid, 0);

  // Another application takes the front.
  Child other(EARSHOT_FIXTURE_APP, {"fixture-other"}, {{"DISPLAY", server.display()}},
              Child::Ending::kill);
  auto others = x.waitFor("fixture-other", 1);
  ASSERT_EQ(others.size(), 1u);
  for (int i = 0; i < 500 && x.active() != others[0].id; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(x.active(), others[0].id);

  // The running editor is found as running and brought back; no second copy starts.
  expectOnly(machine.run({"--open", "Text Editor", "--language", "en"}, server.display()),
             app("Text Editor", editor), 0);
  for (int i = 0; i < 500 && x.active() != started[0].id; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(x.active(), started[0].id);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(x.clientsOf("fixture-editor").size(), 1u);
}

TEST(LookupCommand, FifosInBundlesAreNotWaitedOn) {
  Machine machine;
  const std::string apps = machine.home() + "/Applications";
  const std::string pixelmator = apps + "/Pixelmator Pro.app/Contents/Resources";
  for (const std::string& fifo :
       {makeBundle(apps, "Piped.app", std::nullopt) + "/Contents/Info.plist",
        pixelmator + "/InfoPlist.loctable", pixelmator + "/pt-BR.lproj/InfoPlist.strings"}) {
    std::filesystem::create_directories(std::filesystem::path(fifo).parent_path());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << fifo;
  }
  expectOnly(machine.run({"--find", "piped"}), app("Piped", apps + "/Piped.app"), 0);
  expectOnly(machine.run({"--find", "pixelmator pro"}),
             app("Pixelmator Pro", apps + "/Pixelmator Pro.app"), 0);
  auto opened = machine.run({"--open", "piped"});
  EXPECT_EQ(opened.status, 1);
  ASSERT_EQ(opened.events().size(), 1u) << opened.out;
  EXPECT_NE(opened.events()[0]["detail"].get<std::string>().find("macOS"), std::string::npos);
}

TEST(LookupCommand, AStoppedXServerCountsAsNoDisplay) {
  XServer server;
  ASSERT_TRUE(server.running());
  server.stop();
  Machine machine;
  const std::string apps = machine.home() + "/Applications";
  // Answered from the folders and desktop entries alone.
  expectOnly(machine.run({"--find", "notas"}, server.display()), app("Notas", apps + "/Notes.app"),
             0);
  expectOnly(
      machine.run({"--find", "editor de texto"}, server.display()),
      app("Editor de Texto", machine.dataHome() + "/applications/org.example.Editor.desktop"), 0);
  // The launch is answered, not left to the time limit.
  auto opened = machine.run({"--open", "notes"}, server.display());
  EXPECT_EQ(opened.status, 1);
  ASSERT_EQ(opened.events().size(), 1u) << opened.out;
  EXPECT_NE(opened.events()[0]["detail"].get<std::string>().find("macOS"), std::string::npos)
      << opened.out;
  EXPECT_EQ(opened.err, "");
  server.resume();
}

TEST(LookupCommand, LinkLoopsInDesktopFoldersAreWalkedOnce) {
  Machine machine;
  const std::string folder = machine.dataHome() + "/applications";
  for (const char* loop : {"self", "l1", "l2", "l3", "l4", "l5", "l6"})
    std::filesystem::create_directory_symlink(".", folder + "/" + loop);
  std::filesystem::create_directory_symlink("/", folder + "/root");
  // One answer, by the entry's own path, and in the time a lookup takes.
  expectOnly(machine.run({"--find", "Text Editor", "--exact", "--language", "en"}),
             app("Text Editor", folder + "/org.example.Editor.desktop"), 0);
  expectOnly(machine.run({"--find", "text editr", "--language", "en"}),
             app("Text Editor", folder + "/org.example.Editor.desktop"), 0);
}

TEST(LookupCommand, EntriesOfOtherDesktopsAreLeftOut) {
  Machine machine;
  const std::string folder = machine.dataHome() + "/applications";
  makeDesktopFile(folder + "/kde-only.desktop",
                  {"Type=Application", "Name=Plasma Tool", "OnlyShowIn=KDE;", "Exec=true"});
  makeDesktopFile(folder + "/not-gnome.desktop",
                  {"Type=Application", "Name=Tray Tool", "NotShowIn=GNOME;", "Exec=true"});
  struct Row {
    std::string desktop;
    std::string text;
    bool found;
  };
  for (const auto& row : std::vector<Row>{{"KDE", "plasma tool", true},
                                          {"GNOME", "plasma tool", false},
                                          {"", "plasma tool", false},
                                          {"ubuntu:GNOME", "tray tool", false},
                                          {"XFCE", "tray tool", true}}) {
    // An entry the desktop would not show is neither found nor launched.
    for (const char* mode : {"--find", "--open"}) {
      auto result = machine.run({mode, row.text, "--exact", "--language", "en"}, "",
                                {{"XDG_CURRENT_DESKTOP", row.desktop}});
      ASSERT_EQ(result.events().size(), 1u) << result.out;
      EXPECT_EQ(result.events()[0]["event"], row.found ? "app" : "error")
          << mode << " " << row.text << " on " << row.desktop;
      EXPECT_EQ(result.err, "");
    }
  }
}

TEST(LookupCommand, OpenOnASilentDisplayWithoutASessionBusLeavesNothingBehind) {
  SilentXServer server;
  ASSERT_TRUE(server.running());
  Machine machine;
  const std::string marker = machine.home() + "/started";
  const std::string program = machine.home() + "/mark-started";
  writeFile(program, "#!/bin/sh\ntouch '" + marker + "'\n");
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);
  const std::string entry = machine.dataHome() + "/applications/marker.desktop";
  makeDesktopFile(entry, {"Type=Application", "Name=Marker Tool", "Exec=" + program});

  // Whatever the binary leaves behind becomes our child, to be seen.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  // No bus named and none in the runtime folder: GIO would go looking for one on the display.
  auto opened =
      machine.run({"--open", "marker tool", "--language", "en"}, server.display(),
                  {{"DBUS_SESSION_BUS_ADDRESS", ""}, {"XDG_RUNTIME_DIR", machine.home()}});
  expectOnly(opened, app("Marker Tool", entry), 0);
  for (int i = 0; i < 500 && !std::filesystem::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(std::filesystem::exists(marker)) << "the application did not start";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto left = liveChildren();
  EXPECT_EQ(left, std::vector<std::string>{});
  for (const auto& process : left) killProcess(static_cast<pid_t>(std::stol(process)));
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}
