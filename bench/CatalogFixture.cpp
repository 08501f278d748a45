#include "CatalogFixture.hpp"

#include <array>

#include "support/AppFixtures.hpp"

namespace earshot::bench {

using namespace earshot::testing;

namespace {

constexpr std::array<const char*, 24> words{
    "Quantum", "Studio", "Editor",   "Pixel", "Music",  "Photo", "Cloud",  "Notes",
    "Writer",  "Player", "Mail",     "Code",  "Vector", "Sound", "Movie",  "Paint",
    "Chess",   "Video",  "Terminal", "Books", "Maps",   "Radio", "Camera", "Sync"};

}  // namespace

std::string bundleName(int index) {
  return std::string(words[static_cast<std::size_t>(index) % words.size()]) + " " +
         words[static_cast<std::size_t>(index / 7) % words.size()] + " " +
         std::to_string(1000 + index);
}

int makeCatalog(const std::string& root) {
  int files = 0;
  const std::string apps = root + "/home/Applications";
  for (int i = 0; i < bundleCount; ++i) {
    const std::string name = bundleName(i);
    const PlistForm form = i % 2 ? PlistForm::binary : PlistForm::xml;
    std::string bundle =
        makeBundle(apps, name + ".app",
                   PlistDictionary{{"CFBundleIdentifier", "com.example.app" + std::to_string(i)},
                                   {"CFBundleName", name},
                                   {"LSUIElement", PlistValue::of(i % 50 == 0)}},
                   form);
    ++files;
    const std::string resources = bundle + "/Contents/Resources/";
    switch (i % 4) {
      case 0:
        writeFile(
            resources + "InfoPlist.loctable",
            plistBytes({{"pt_BR", PlistValue::of({{"CFBundleDisplayName", name + " Português"}})},
                        {"en", PlistValue::of({{"CFBundleDisplayName", name}})}},
                       PlistForm::binary));
        ++files;
        break;
      case 1:
        writeFile(resources + "pt-BR.lproj/InfoPlist.strings",
                  utf16("/* nome */\n\"CFBundleDisplayName\" = \"" + name + " Brasil\";\n"));
        ++files;
        break;
      case 2:
        writeFile(resources + "pt.lproj/InfoPlist.strings",
                  "\"CFBundleName\" = \"" + name + " PT\";\n");
        ++files;
        break;
      default:
        break;
    }
  }
  for (int i = 0; i < desktopEntryCount; ++i) {
    const std::string name = bundleName(bundleCount + i);
    makeDesktopFile(root + "/data/applications/org.example.Tool" + std::to_string(i) + ".desktop",
                    {"Type=Application", "Name=" + name, "Name[pt_BR]=" + name + " Ferramenta",
                     "Name[de]=" + name + " Werkzeug", "Exec=true", "Comment=A generated tool"});
    ++files;
  }
  return files;
}

void addDesktopEntries(earshot::testing::FixtureWorkspace& workspace) {
  for (int i = 0; i < desktopEntryCount; ++i) {
    const std::string name = bundleName(bundleCount + i);
    workspace.desktop.push_back({"org.example.Tool" + std::to_string(i) + ".desktop",
                                 "/d/" + std::to_string(i),
                                 name,
                                 name,
                                 {name + " Ferramenta"},
                                 false});
  }
}

}  // namespace earshot::bench
