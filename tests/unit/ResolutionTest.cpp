#include <gtest/gtest.h>

#include "catalog/AppCatalog.hpp"
#include "catalog/Plain.hpp"

using earshot::AppCatalog;
using earshot::AppRef;

namespace {

AppCatalog::Entry app(const std::string& shown, std::vector<std::string> names,
                      bool running = false) {
  for (auto& name : names) name = earshot::plain(name);
  return {AppRef{shown, "id." + shown, "/Applications/" + shown + ".app", running}, names};
}

struct Case {
  const char* what;
  std::vector<AppCatalog::Entry> catalog;
  const char* text;
  bool exact;
  const char* expected;  // the shown name, or nullptr for nothing
};

std::string describe(const std::optional<AppRef>& found) {
  return found ? found->name : "(nothing)";
}

}  // namespace

TEST(Named, StripsLeadingFillerWordsButNeverTheLast) {
  EXPECT_EQ(AppCatalog::named("o aplicativo do Chrome"), "chrome");
  EXPECT_EQ(AppCatalog::named("app"), "app");
  EXPECT_EQ(AppCatalog::named("my app"), "app");
  EXPECT_EQ(AppCatalog::named("App Store"), "store");
  EXPECT_EQ(AppCatalog::named("o app da loja"), "loja");
  EXPECT_EQ(AppCatalog::named("Chrome do Google"), "chrome do google");
  EXPECT_EQ(AppCatalog::named("  ...  "), "");
}

TEST(Resolution, Table) {
  const auto safari = app("Safari", {"Safari"});
  const auto chrome = app("Google Chrome", {"Google Chrome"});
  const auto appStore = app("App Store", {"App Store"});
  const auto finalCut = app("Final Cut Pro", {"Final Cut Pro"});
  const auto finalCutServer = app("Final Cut Server", {"Final Cut Server"});
  const auto pixelmator = app("Pixelmator Pro", {"Pixelmator Pro"});
  const auto pixelmaker = app("Pixelmaker Pro", {"Pixelmaker Pro"});
  const auto store = app("Store Manager", {"Store Manager"});
  const auto calendar = app("Calendário", {"Calendar", "Calendário"});
  const auto mail = app("Mail", {"Mail"});
  const auto notes = app("Notas", {"Notes", "Notas"});

  const std::vector<Case> cases{
      {"empty text", {safari}, "", false, nullptr},
      {"only punctuation", {safari}, "?!", false, nullptr},
      {"empty catalog", {}, "safari", false, nullptr},
      {"exact name", {safari, chrome}, "Safari", false, "Safari"},
      {"nickname through filler words",
       {safari, chrome},
       "o aplicativo do chrome",
       false,
       "Google Chrome"},
      {"own name beats nickname", {chrome, app("Chrome", {"Chrome"})}, "chrome", false, "Chrome"},
      {"App Store is not 'store'", {appStore}, "App Store", false, nullptr},
      {"another app matches 'store'", {appStore, store}, "App Store", false, "Store Manager"},
      {"nickname finds App Store", {appStore, store}, "loja", false, "App Store"},
      {"first nickname wins", {chrome, safari}, "navegador", false, "Safari"},
      {"nickname before word prefix",
       {finalCutServer, finalCut},
       "final cut",
       false,
       "Final Cut Pro"},
      {"word prefix", {finalCutServer}, "final cut", false, "Final Cut Server"},
      {"prefix of four or more", {pixelmator}, "pixel", false, "Pixelmator Pro"},
      {"short prefix refused", {pixelmator}, "pix", false, nullptr},
      {"distance one, alone", {pixelmator}, "pixelmater pro", false, "Pixelmator Pro"},
      {"distance, ambiguous", {pixelmator, pixelmaker}, "pixelmatxr pro", false, nullptr},
      {"safary", {safari, chrome}, "safary", false, "Safari"},
      {"sapary is two edits", {safari}, "sapary", false, nullptr},
      {"two edits for long queries", {pixelmator}, "pixelmater pru", false, "Pixelmator Pro"},
      {"three edits refused", {pixelmator}, "pixelmatr prru", false, nullptr},
      {"four-character query never by distance", {mail}, "maik", false, nullptr},
      {"short names never by distance", {mail}, "mails", false, nullptr},
      {"exact: nickname", {finalCut}, "final cut", true, "Final Cut Pro"},
      {"exact: no distance", {pixelmator}, "pixelmater pro", true, nullptr},
      {"exact: no prefix", {pixelmator}, "pixel", true, nullptr},
      {"localized name", {calendar}, "calendario", false, "Calendário"},
      {"nickname list order", {calendar}, "agenda", false, "Calendário"},
      {"second spoken name", {notes}, "notes", false, "Notas"},
      {"prefix beats distance",
       {app("Safaris", {"Safaris"}), app("Safaro", {"Safaro"})},
       "safari",
       false,
       "Safaris"},
      {"word prefix with a short query", {app("Go Maps", {"Go Maps"})}, "go", false, "Go Maps"},
      // A space followed by a spacing mark is one character: "pix" and a space do not begin it.
      {"word prefix by whole characters", {app("Pix", {"pix \u093Ek"})}, "pix", false, nullptr},
  };
  for (const auto& c : cases) {
    AppCatalog catalog{c.catalog};
    auto found = catalog.app(c.text, c.exact);
    EXPECT_EQ(describe(found), c.expected ? c.expected : "(nothing)") << c.what;
  }
}

TEST(Resolution, TiesGoToTheRunningThenTheShorterName) {
  auto longer = app("Notes Plus", {"notes"});
  auto shorter = app("Notes", {"notes"});
  EXPECT_EQ(describe(AppCatalog{{longer, shorter}}.app("notes")), "Notes");
  longer.app.isRunning = true;
  EXPECT_EQ(describe(AppCatalog{{longer, shorter}}.app("notes")), "Notes Plus");
  shorter.app.isRunning = true;
  EXPECT_EQ(describe(AppCatalog{{longer, shorter}}.app("notes")), "Notes");
  // The answer is the catalog's own AppRef, running flag included.
  auto found = AppCatalog{{longer, shorter}}.app("notes");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, shorter.app);
}

TEST(Resolution, ScoresOnlyRise) {
  // The same application matched by prefix first and by its exact name later keeps 1.0 and wins
  // over another application that matches exactly too but has a longer shown name.
  auto a = app("Code", {"code editor", "code"});
  auto b = app("Code Studio", {"code"});
  EXPECT_EQ(describe(AppCatalog{{a, b}}.app("code")), "Code");
  // A later, lower nickname score does not replace a higher one.
  auto mail = app("Mail", {"mail", "e mail"});
  EXPECT_EQ(describe(AppCatalog{{mail}}.app("correio")), "Mail");
}

TEST(Resolution, TheRowThatRaisesTheScoreIsTheAnswer) {
  // Two rows of one application (one path): a later row that scores higher is the one answered,
  // a later row that only ties is not.
  const AppCatalog::Entry byPrefix{AppRef{"Foo Bar", std::nullopt, "/x/Foo.app"}, {"foo bar"}};
  const AppCatalog::Entry byName{AppRef{"Foo", "foo", "/x/Foo.app", true}, {"foo"}};
  auto found = AppCatalog{{byPrefix, byName}}.app("foo");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, byName.app);
  found = AppCatalog{{byName, byPrefix}}.app("foo");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, byName.app);
  const AppCatalog::Entry alsoByName{AppRef{"Foo Again", std::nullopt, "/x/Foo.app"}, {"foo"}};
  found = AppCatalog{{byName, alsoByName}}.app("foo");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, byName.app);
}

TEST(Resolution, LongAndNonAsciiQueries) {
  std::string longName;
  for (int i = 0; i < 1250; ++i) longName += "アプリを開いてね";  // 10,000 characters
  std::string twoEdits = longName;
  twoEdits.replace(0, 3, "ア");  // same character
  twoEdits.replace(3, 3, "イ");  // one substitution
  twoEdits.replace(twoEdits.size() - 3, 3, "イ");
  std::string threeEdits = twoEdits;
  threeEdits.replace(6, 3, "ウ");

  const auto tool = app("Tool", {"アプリケーション開発ツール"});
  const auto other = app("Other", {"アプリケーション開発ツーム"});
  const auto huge = app("Huge", {longName});
  const std::vector<Case> cases{
      {"one edit, alone", {tool}, "アプリケーション開発ツーラ", false, "Tool"},
      {"one edit, ambiguous", {tool, other}, "アプリケーション開発ツーラ", false, nullptr},
      {"prefix", {tool}, "アプリケー", false, "Tool"},
      {"longer than the name by three", {tool}, "アプリケーション開発ツールですね", false, nullptr},
      {"a 10,000-character name, two edits", {huge}, twoEdits.c_str(), false, "Huge"},
      {"a 10,000-character name, three edits", {huge}, threeEdits.c_str(), false, nullptr},
  };
  for (const auto& c : cases) {
    AppCatalog catalog{c.catalog};
    EXPECT_EQ(describe(catalog.app(c.text, c.exact)), c.expected ? c.expected : "(nothing)")
        << c.what;
  }
}
