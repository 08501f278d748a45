// The catalog as the recognizer's vocabulary.
#include <gtest/gtest.h>

#include "catalog/AppNames.hpp"
#include "support/AppFixtures.hpp"

using namespace earshot;

namespace {

AppCatalog::Entry entry(const std::string& shown, std::vector<std::string> names) {
  return {AppRef{shown, std::nullopt, "/apps/" + shown}, std::move(names)};
}

}  // namespace

TEST(AppVocabulary, EveryNameOnceThenTheNicknamesOfInstalledApplications) {
  AppCatalog catalog;
  catalog.entries = {entry("Visual Studio Code", {"visual studio code", "code"}),
                     entry("Firefox", {"firefox"}),
                     entry("Firefox Nightly", {"firefox nightly", "firefox"}),
                     entry("Google Chrome", {"google chrome"})};
  const AppVocabulary vocabulary = appVocabulary(catalog);
  // "code" is both a name and a nickname, kept once; "gpt" stands for nothing installed.
  EXPECT_EQ(vocabulary.names, (std::vector<std::string>{
                                  "visual studio code", "code", "firefox", "firefox nightly",
                                  "google chrome", "chrome", "navegador", "vs code", "vscode"}));
  EXPECT_EQ(vocabulary.commandWords, commandWords());
  EXPECT_EQ(vocabulary.fillerWords, AppCatalog::fillerWords());
  EXPECT_EQ(vocabulary.fillerWords.size(), 18u);
}

TEST(AppVocabulary, EmptyCatalogHasNoNames) {
  EXPECT_TRUE(appVocabulary(AppCatalog{}).names.empty());
}

TEST(AppNamesCache, ScansAgainOnlyWhenTheLastScanIsOld) {
  earshot::testing::TemporaryFolder folder;
  earshot::testing::FixtureWorkspace workspace(folder.path() + "/root", folder.path() + "/home");
  workspace.desktop = {{"gimp.desktop", "/x/gimp.desktop", "GIMP", "GIMP", {}, false}};
  AppNamesCache cache(workspace, std::chrono::seconds(5));
  const AppNamesCache::Clock::time_point start{};

  const auto first = cache.current(start);
  EXPECT_EQ(first->names, (std::vector<std::string>{"gimp"}));
  workspace.desktop.push_back({"krita.desktop", "/x/krita.desktop", "Krita", "Krita", {}, false});
  EXPECT_EQ(cache.current(start + std::chrono::seconds(4)), first);
  EXPECT_EQ(cache.current(start + std::chrono::seconds(6))->names,
            (std::vector<std::string>{"gimp", "krita"}));
}
