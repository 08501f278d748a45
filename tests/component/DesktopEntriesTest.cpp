#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/linux/DesktopEntries.hpp"
#include "platform/linux/LinuxWorkspace.hpp"
#include "support/AppFixtures.hpp"

using namespace earshot::linux_platform;
using namespace earshot::testing;

namespace {

// Sets environment variables for one test and puts the old values back.
class Environment {
 public:
  void set(const std::string& name, const std::string& value) {
    const char* old = getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name.c_str(), value.c_str(), 1);
  }
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

TEST(DesktopEntryText, NamesAndVisibility) {
  auto entry = parseDesktopEntry(
      "# comment\n[Desktop Entry]\nType=Application\nName=Calendar\nName[pt_PT]=Calendário PT\n"
      "Name[pt]=Calendário\nName[pt_BR]=Calendário\nName[de]=Kalender\nExec=cal\nStartupWMClass="
      "Cal\n",
      "org.gnome.Calendar.desktop", "/p");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->entry.unlocalizedName, "Calendar");
  EXPECT_EQ(entry->entry.portugueseNames,
            (std::vector<std::string>{"Calendário", "Calendário PT"}));
  EXPECT_FALSE(entry->entry.hidden);
  EXPECT_EQ(entry->windowClass, "Cal");

  for (const char* extra : {"NoDisplay=true", "Hidden=true", "Type=Link"}) {
    auto hidden = parseDesktopEntry(
        std::string("[Desktop Entry]\nType=Application\nName=X\n") + extra + "\n", "x", "/x");
    ASSERT_TRUE(hidden) << extra;
    EXPECT_TRUE(hidden->entry.hidden) << extra;
  }
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Application\n", "x", "/x"));  // no Name
  EXPECT_FALSE(parseDesktopEntry("[Other]\nName=X\n", "x", "/x"));
  EXPECT_FALSE(parseDesktopEntry("not a key file", "x", "/x"));
  EXPECT_FALSE(parseDesktopEntry(std::string("[Desktop Entry]\nName=\xff\n"), "x", "/x"));
}

TEST(DesktopEntryText, ShownOnTheCurrentDesktopOnly) {
  struct Row {
    std::string currentDesktop;  // $XDG_CURRENT_DESKTOP
    std::string lines;
    bool shown;
  };
  const std::vector<Row> rows{
      {"", "", true},
      {"", "OnlyShowIn=KDE;", false},
      {"", "NotShowIn=GNOME;", true},
      {"GNOME", "OnlyShowIn=KDE;XFCE;", false},
      {"KDE", "OnlyShowIn=GNOME;KDE;", true},
      {"GNOME", "NotShowIn=GNOME;", false},
      {"GNOME", "NotShowIn=KDE;", true},
      {"kde", "OnlyShowIn=KDE;", false},  // names are case-sensitive
      // A list of desktops: the first one either list names decides.
      {"ubuntu:GNOME", "OnlyShowIn=GNOME;", true},
      {"ubuntu:GNOME", "NotShowIn=GNOME;", false},
      {"Unity:GNOME", "OnlyShowIn=GNOME;\nNotShowIn=Unity;", false},
      {"GNOME:Unity", "OnlyShowIn=GNOME;\nNotShowIn=Unity;", true},
      {"X-Cinnamon::", "OnlyShowIn=X-Cinnamon", true},  // no final ";", empty names
      {"XFCE", "OnlyShowIn=;", false},
  };
  Environment environment;
  for (const auto& row : rows) {
    environment.set("XDG_CURRENT_DESKTOP", row.currentDesktop);
    std::string text = "[Desktop Entry]\nType=Application\nName=X\n" + row.lines + "\n";
    auto entry = parseDesktopEntry(text, "x.desktop", "/x.desktop");
    ASSERT_TRUE(entry) << row.lines;
    EXPECT_EQ(entry->entry.hidden, !row.shown) << row.currentDesktop << " / " << row.lines;
  }
}

TEST(DesktopEntryFolders, PrecedenceSubFoldersAndLocale) {
  TemporaryFolder root;
  Environment environment;
  const std::string dataHome = root.path() + "/data";
  const std::string first = root.path() + "/share1";
  const std::string second = root.path() + "/share2";
  environment.set("HOME", root.path());
  environment.set("XDG_DATA_HOME", dataHome);
  environment.set("XDG_DATA_DIRS", first + ":relative/ignored::" + second + "/");
  environment.set("LANGUAGE", "de");
  EXPECT_EQ(applicationFolders(root.path()),
            (std::vector<std::string>{dataHome + "/applications", first + "/applications",
                                      second + "/applications"}));

  makeDesktopFile(second + "/applications/editor.desktop",
                  {"Type=Application", "Name=Editor (system)"});
  makeDesktopFile(dataHome + "/applications/editor.desktop",
                  {"Type=Application", "Name=Editor", "Name[de]=Bearbeiter"});
  makeDesktopFile(first + "/applications/kde/konsole.desktop",
                  {"Type=Application", "Name=Konsole"});
  makeDesktopFile(first + "/applications/gone.desktop",
                  {"Type=Application", "Name=Gone", "Hidden=true"});
  makeDesktopFile(second + "/applications/gone.desktop", {"Type=Application", "Name=Gone"});
  writeFile(first + "/applications/notes.txt", "[Desktop Entry]\nName=Not one\n");

  LinuxWorkspace workspace;
  auto entries = workspace.desktopEntries();
  std::vector<std::string> ids;
  for (const auto& entry : entries)
    ids.push_back(entry.id + "=" + entry.name + (entry.hidden ? " hidden" : ""));
  EXPECT_EQ(ids, (std::vector<std::string>{"editor.desktop=Bearbeiter", "gone.desktop=Gone hidden",
                                           "kde-konsole.desktop=Konsole"}));
  EXPECT_EQ(entries[0].unlocalizedName, "Editor");
  EXPECT_EQ(
      desktopFileID(first + "/applications/kde/konsole.desktop", applicationFolders(root.path())),
      "kde-konsole.desktop");
  EXPECT_EQ(desktopFileID("/elsewhere/x.desktop", applicationFolders(root.path())), "x.desktop");
}

TEST(DesktopEntryFolders, DefaultsFollowHome) {
  Environment environment;
  environment.set("XDG_DATA_HOME", "");
  environment.set("XDG_DATA_DIRS", "");
  EXPECT_EQ(applicationFolders("/home/ana"),
            (std::vector<std::string>{"/home/ana/.local/share/applications",
                                      "/usr/local/share/applications", "/usr/share/applications"}));
}

TEST(DesktopEntryFolders, TryExecMustNameAnInstalledProgram) {
  TemporaryFolder root;
  Environment environment;
  const std::string folder = root.path() + "/data/applications";
  environment.set("XDG_DATA_HOME", root.path() + "/data");
  environment.set("XDG_DATA_DIRS", root.path() + "/none");
  environment.set("PATH", "/usr/bin:/bin");
  writeFile(root.path() + "/plain-file", "not a program");
  struct Row {
    std::string tryExec;
    bool hidden;
  };
  const std::vector<Row> rows{
      {"", false},
      {"/bin/sh", false},
      {"sh", false},  // looked up in $PATH
      {"/nonexistent/tool", true},
      {"no-such-program-anywhere", true},
      {root.path() + "/plain-file", true},  // not executable
      {root.path(), true},                  // a folder
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::vector<std::string> lines{"Type=Application", "Name=Tool " + std::to_string(i)};
    if (!rows[i].tryExec.empty()) lines.push_back("TryExec=" + rows[i].tryExec);
    makeDesktopFile(folder + "/tool" + std::to_string(i) + ".desktop", lines);
  }
  // A FIFO named like a desktop file is never waited on.
  ASSERT_EQ(mkfifo((folder + "/zz-fifo.desktop").c_str(), 0600), 0);

  LinuxWorkspace workspace;
  auto entries = workspace.desktopEntries();
  ASSERT_EQ(entries.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(entries[i].hidden, rows[i].hidden) << rows[i].tryExec;
    // The same rule when one file is read on its own, as for a running application.
    auto single = workspace.desktopEntry(entries[i].path, entries[i].id);
    ASSERT_TRUE(single);
    EXPECT_EQ(single->hidden, rows[i].hidden) << rows[i].tryExec;
  }
  EXPECT_FALSE(workspace.desktopEntry(folder + "/zz-fifo.desktop", "zz-fifo.desktop"));
}

TEST(DesktopEntryFolders, LinkedFoldersAreReadOnce) {
  TemporaryFolder root;
  Environment environment;
  const std::string folder = root.path() + "/data/applications";
  environment.set("XDG_DATA_HOME", root.path() + "/data");
  environment.set("XDG_DATA_DIRS", root.path() + "/none");
  makeDesktopFile(folder + "/target.desktop", {"Type=Application", "Name=Target"});
  makeDesktopFile(folder + "/kde/konsole.desktop", {"Type=Application", "Name=Konsole"});
  makeDesktopFile(folder + "/zz/late.desktop", {"Type=Application", "Name=Late"});
  namespace fs = std::filesystem;
  // Each loop link alone multiplies the walk; together they made it exponential.
  for (const char* loop : {"self", "l1", "l2", "l3", "l4", "l5", "l6"})
    fs::create_directory_symlink(".", folder + "/" + loop);
  fs::create_directory_symlink("..", folder + "/kde/up");
  fs::create_directory_symlink("kde", folder + "/kde-again");
  fs::create_directory_symlink("/", folder + "/root");  // above the folder: a loop too
  fs::create_directory_symlink(root.path() + "/data", folder + "/data");
  fs::create_symlink("dangling", folder + "/broken");
  fs::create_symlink("knot", folder + "/knot");  // a link to itself

  LinuxWorkspace workspace;
  std::vector<std::string> ids;
  for (const auto& entry : workspace.desktopEntries()) ids.push_back(entry.id + "=" + entry.path);
  EXPECT_EQ(ids, (std::vector<std::string>{"kde-konsole.desktop=" + folder + "/kde/konsole.desktop",
                                           "target.desktop=" + folder + "/target.desktop",
                                           "zz-late.desktop=" + folder + "/zz/late.desktop"}));
}
