#include <gtest/gtest.h>

#include <filesystem>

#include "catalog/AppCatalog.hpp"
#include "core/Language.hpp"
#include "support/AppFixtures.hpp"

using earshot::AppCatalog;
using earshot::DesktopEntry;
using earshot::Language;
using earshot::RunningApplication;
using namespace earshot::testing;
namespace fs = std::filesystem;

namespace {

class CatalogScan : public ::testing::Test {
 protected:
  void SetUp() override { earshot::spoken = Language::portuguese; }
  void TearDown() override { earshot::spoken = Language::portuguese; }

  std::string system(const std::string& folder) { return root.path() + "/sys" + folder; }
  std::string home() { return root.path() + "/home"; }

  std::vector<std::string> paths(const AppCatalog& catalog) {
    std::vector<std::string> out;
    for (const auto& entry : catalog.entries)
      out.push_back(fs::path(entry.app.path).filename().string());
    return out;
  }
  const AppCatalog::Entry* find(const AppCatalog& catalog, const std::string& file) {
    for (const auto& entry : catalog.entries) {
      if (fs::path(entry.app.path).filename() == file) return &entry;
    }
    return nullptr;
  }

  TemporaryFolder root;
  FixtureWorkspace workspace{root.path() + "/sys", root.path() + "/home"};
};

}  // namespace

TEST_F(CatalogScan, ListingRules) {
  const std::string apps = system("/Applications");
  makeBundle(apps, "Safari.app", PlistDictionary{{"CFBundleIdentifier", "com.apple.Safari"}});
  makeBundle(apps, ".Hidden.app", PlistDictionary{{"CFBundleIdentifier", "hidden"}});
  makeBundle(apps, "Shout.APP", PlistDictionary{{"CFBundleIdentifier", "shout"}});
  makeBundle(apps + "/Games", "Chess.app", PlistDictionary{{"CFBundleIdentifier", "chess"}});
  makeBundle(apps, "NoInfo.app", std::nullopt);
  makeBundle(apps + "/Utilities", "Terminal.app",
             PlistDictionary{{"CFBundleIdentifier", "terminal"}});
  makeBundle(system("/System/Library/CoreServices"), "Finder.app",
             PlistDictionary{{"CFBundleIdentifier", "finder"}});
  makeBundle(system("/System/Library/CoreServices"), "Dock.app",
             PlistDictionary{{"CFBundleIdentifier", "dock"}});
  makeBundle(system("/System/Applications"), "Notes.app",
             PlistDictionary{{"CFBundleIdentifier", "notes"}});
  writeFile(apps + "/readme.txt", "x");
  // The user has no Applications folder: the other roots still count.
  auto catalog = AppCatalog::scan(workspace);
  EXPECT_EQ(paths(catalog), (std::vector<std::string>{"NoInfo.app", "Safari.app", "Terminal.app",
                                                      "Notes.app", "Finder.app"}));
  const auto* noInfo = find(catalog, "NoInfo.app");
  ASSERT_TRUE(noInfo);
  EXPECT_EQ(noInfo->app.bundleID, std::nullopt);
  EXPECT_EQ(noInfo->names, (std::vector<std::string>{"noinfo"}));
}

TEST_F(CatalogScan, FirstCopyWinsAndLinksShareTheirTarget) {
  makeBundle(system("/Applications"), "Mail.app",
             PlistDictionary{{"CFBundleIdentifier", "com.apple.mail"}});
  makeBundle(home() + "/Applications", "Mail.app",
             PlistDictionary{{"CFBundleIdentifier", "com.apple.mail"}});
  makeBundle(home() + "/Applications", "Tool.app", PlistDictionary{{"CFBundleName", "Tool"}});
  fs::create_directory_symlink(home() + "/Applications/Tool.app",
                               home() + "/Applications/Alias.app");
  auto catalog = AppCatalog::scan(workspace);
  ASSERT_EQ(catalog.entries.size(), 2u);
  EXPECT_EQ(catalog.entries[0].app.path, system("/Applications") + "/Mail.app");
  // Alias.app sorts first and is kept under the path it was found at.
  EXPECT_EQ(catalog.entries[1].app.path, home() + "/Applications/Alias.app");
}

TEST_F(CatalogScan, NamesFromEveryPlace) {
  const std::string apps = system("/Applications");
  // Binary Info.plist, a loctable with Brazilian and European names.
  std::string calendar = makeBundle(
      apps, "Calendar.app",
      PlistDictionary{{"CFBundleIdentifier", "com.apple.iCal"}, {"CFBundleName", "iCal"}},
      PlistForm::binary);
  writeFile(calendar + "/Contents/Resources/InfoPlist.loctable",
            plistBytes({{"en", PlistValue::of({{"CFBundleDisplayName", "Calendar"}})},
                        {"pt_PT", PlistValue::of({{"CFBundleDisplayName", "Calendário PT"}})},
                        {"pt_BR", PlistValue::of({{"CFBundleDisplayName", "\u200ECalendário"},
                                                  {"CFBundleName", "Calendário"}})}},
                       PlistForm::binary));
  // Strings files in UTF-16, UTF-8 text, and a binary property list; hyphenated codes come first.
  std::string notes =
      makeBundle(apps, "Notes.app", PlistDictionary{{"CFBundleIdentifier", "com.apple.Notes"}});
  writeFile(notes + "/Contents/Resources/pt_PT.lproj/InfoPlist.strings",
            "\"CFBundleDisplayName\" = \"Notas PT\";");
  writeFile(
      notes + "/Contents/Resources/pt-BR.lproj/InfoPlist.strings",
      utf16("/* nome */\n\"CFBundleDisplayName\" = \"Notas\";\n\"CFBundleName\" = \"Notas\";\n"));
  writeFile(notes + "/Contents/Resources/pt.lproj/InfoPlist.strings",
            plistBytes({{"CFBundleName", "Anotações"}}, PlistForm::binary));
  // A loctable without Portuguese falls back to the strings files.
  writeFile(notes + "/Contents/Resources/InfoPlist.loctable",
            plistBytes({{"fr", PlistValue::of({{"CFBundleDisplayName", "Notes FR"}})}},
                       PlistForm::binary));
  // Every name collapses into one plain name.
  makeBundle(apps, "TextEdit.app",
             PlistDictionary{{"CFBundleName", "TEXTEDIT"}, {"CFBundleIdentifier", "te"}});
  // ".app" inside a name is removed from the display name only.
  makeBundle(apps, "My.appliance.app", PlistDictionary{{"CFBundleIdentifier", "appl"}});

  auto catalog = AppCatalog::scan(workspace);
  const auto* cal = find(catalog, "Calendar.app");
  ASSERT_TRUE(cal);
  EXPECT_EQ(cal->app.name, "Calendário");  // format character removed, accent kept
  EXPECT_EQ(cal->app.bundleID, "com.apple.iCal");
  EXPECT_EQ(cal->names,
            (std::vector<std::string>{"calendar", "ical", "calendario", "calendario pt"}));

  const auto* note = find(catalog, "Notes.app");
  ASSERT_TRUE(note);
  EXPECT_EQ(note->app.name, "Notas");
  EXPECT_EQ(note->names, (std::vector<std::string>{"notes", "notas", "anotacoes", "notas pt"}));
  EXPECT_EQ(AppCatalog::portugueseNames(workspace, note->app.path),
            (std::vector<std::string>{"Notas", "Anotações", "Notas PT"}));

  EXPECT_EQ(find(catalog, "TextEdit.app")->names, (std::vector<std::string>{"textedit"}));
  EXPECT_EQ(find(catalog, "My.appliance.app")->names,
            (std::vector<std::string>{"myliance", "my appliance"}));

  earshot::spoken = Language::english;
  catalog = AppCatalog::scan(workspace);
  EXPECT_EQ(find(catalog, "Calendar.app")->app.name, "Calendar");
  EXPECT_EQ(find(catalog, "Notes.app")->app.name, "Notes");
}

TEST_F(CatalogScan, AgentsAreLeftOut) {
  const std::string apps = system("/Applications");
  makeBundle(
      apps, "Menu.app",
      PlistDictionary{{"CFBundleIdentifier", "menu"}, {"LSUIElement", PlistValue::of(true)}});
  makeBundle(apps, "Bar.app",
             PlistDictionary{{"CFBundleIdentifier", "bar"}, {"LSUIElement", PlistValue::number(1)}},
             PlistForm::binary);
  makeBundle(apps, "Text.app",
             PlistDictionary{{"CFBundleIdentifier", "text"}, {"LSUIElement", "1"}});
  workspace.running = {RunningApplication{"menu", apps + "/Menu.app", true}};
  auto catalog = AppCatalog::scan(workspace);
  EXPECT_EQ(paths(catalog), (std::vector<std::string>{"Text.app"}));
}

TEST_F(CatalogScan, DesktopEntriesThenRunningApplications) {
  makeBundle(system("/Applications"), "Safari.app",
             PlistDictionary{{"CFBundleIdentifier", "com.apple.Safari"}});
  const std::string downloads = root.path() + "/Downloads";
  makeBundle(downloads, "Zoom.app", PlistDictionary{{"CFBundleIdentifier", "us.zoom"}});
  makeBundle(downloads, "Helper.app", PlistDictionary{{"CFBundleIdentifier", "helper"}});
  workspace.desktop = {
      DesktopEntry{"org.gnome.Calendar.desktop",
                   "/x/org.gnome.Calendar.desktop",
                   "Calendário",
                   "Calendar",
                   {"Calendário"},
                   false},
      DesktopEntry{"secret.desktop", "/x/secret.desktop", "Secret", "Secret", {}, true},
      DesktopEntry{
          "org.example.Viewer.desktop", "/y/viewer.desktop", "Viewer", "Viewer", {}, false},
      // A version number is no reverse domain: its last part alone would be a name like "22".
      DesktopEntry{"gimp-2.10.22.desktop", "/y/gimp.desktop", "GIMP", "GIMP", {}, false},
  };
  workspace.running = {
      RunningApplication{"us.zoom", downloads + "/Zoom.app", true},
      RunningApplication{"helper", downloads + "/Helper.app", false},  // not a regular application
      RunningApplication{"com.apple.Safari", system("/Applications") + "/Safari.app", true},
      RunningApplication{"org.gnome.Calendar.desktop", "/x/org.gnome.Calendar.desktop", true},
      RunningApplication{"none", std::nullopt, true},
  };
  auto catalog = AppCatalog::scan(workspace);
  ASSERT_EQ(catalog.entries.size(), 5u);
  EXPECT_EQ(catalog.entries[0].app.name, "Safari");
  EXPECT_TRUE(catalog.entries[0].app.isRunning);
  EXPECT_EQ(catalog.entries[1].app, (earshot::AppRef{"Calendário", "org.gnome.Calendar.desktop",
                                                     "/x/org.gnome.Calendar.desktop", true}));
  EXPECT_EQ(catalog.entries[1].names, (std::vector<std::string>{"calendario", "calendar"}));
  EXPECT_FALSE(catalog.entries[2].app.isRunning);
  EXPECT_EQ(catalog.entries[2].names, (std::vector<std::string>{"viewer"}));
  EXPECT_EQ(catalog.entries[3].names, (std::vector<std::string>{"gimp", "gimp 2 10 22"}));
  EXPECT_EQ(catalog.entries[4].app.path, downloads + "/Zoom.app");
  EXPECT_TRUE(catalog.entries[4].app.isRunning);

  earshot::spoken = Language::english;
  EXPECT_EQ(AppCatalog::scan(workspace).entries[1].app.name, "Calendar");
}

TEST_F(CatalogScan, PathsThatAreNotUtf8AreLeftOut) {
  const std::string apps = system("/Applications");
  makeBundle(apps, "Caf\xe9.app", PlistDictionary{{"CFBundleIdentifier", "cafe.latin1"}});
  makeBundle(apps, "Café.app", PlistDictionary{{"CFBundleIdentifier", "cafe.utf8"}});
  const std::string downloads = root.path() +
                                "/Downl\xf6"
                                "ads";
  makeBundle(downloads, "Zoom.app", PlistDictionary{{"CFBundleIdentifier", "us.zoom"}});
  workspace.running = {RunningApplication{"us.zoom", downloads + "/Zoom.app", true}};
  workspace.desktop = {
      DesktopEntry{"bad.desktop",
                   "/x/b\xe4"
                   "d.desktop",
                   "Bad",
                   "Bad",
                   {},
                   false},
      DesktopEntry{"good.desktop", "/x/good.desktop", "Good", "Good", {}, false},
  };
  EXPECT_EQ(paths(AppCatalog::scan(workspace)),
            (std::vector<std::string>{"Café.app", "good.desktop"}));
}

TEST_F(CatalogScan, DesktopNamesLoseDotAppLikeBundleNames) {
  workspace.desktop = {
      DesktopEntry{"tool.desktop", "/x/tool.desktop", "Tool.app Suite.app", "Tool.app", {}, false},
  };
  auto catalog = AppCatalog::scan(workspace);
  ASSERT_EQ(catalog.entries.size(), 1u);
  EXPECT_EQ(catalog.entries[0].app.name, "Tool Suite");
  // The unlocalized Name stands for a bundle's file name, which keeps what it has.
  EXPECT_EQ(catalog.entries[0].names, (std::vector<std::string>{"tool suite", "tool app", "tool"}));
}

TEST(CatalogRoots, SevenFoldersInOrder) {
  EXPECT_EQ(AppCatalog::roots("/home/ana/"),
            (std::vector<std::string>{"/Applications", "/Applications/Utilities",
                                      "/System/Applications", "/System/Applications/Utilities",
                                      "/System/Cryptexes/App/System/Applications",
                                      "/System/Library/CoreServices", "/home/ana/Applications"}));
  EXPECT_EQ(AppCatalog::roots("/").back(), "/Applications");
}
