#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Workspace.hpp"

namespace earshot {

// One application.
struct AppRef {
  std::string name;  // shown to the host, in the selected language
  std::optional<std::string> bundleID;
  std::string path;  // as found, not resolved through symbolic links
  bool isRunning = false;

  bool operator==(const AppRef&) const = default;
};

// The installed and running applications and every name a user may say for each.
class AppCatalog {
 public:
  struct Entry {
    AppRef app;
    std::vector<std::string> names;  // plain form, non-empty, no duplicates, in gathering order

    bool operator==(const Entry&) const = default;
  };

  std::vector<Entry> entries;

  // Spoken nickname -> the application names it may stand for, in order of preference.
  static const std::map<std::string, std::vector<std::string>>& nicknames();

  // The application folders searched, in order.
  static std::vector<std::string> roots(const std::string& homeFolder);

  // A fresh catalog: the bundles in the roots, then the desktop entries, then the applications that
  // run from elsewhere.
  static AppCatalog scan(Workspace& workspace);
  static AppCatalog scan(Workspace& workspace, const std::vector<std::string>& roots);

  // The row for an application bundle; nothing when it is to be left out.
  static std::optional<Entry> entry(const Workspace& workspace, const std::string& bundle);
  // The row for a desktop entry; nothing when it is hidden or has no name.
  static std::optional<Entry> entry(const DesktopEntry& desktop);
  static std::vector<std::string> portugueseNames(const Workspace& workspace,
                                                  const std::string& bundle);

  // The words that `named` strips from the front of a query.
  static const std::vector<std::string>& fillerWords();
  // The query of a spoken text: plain form without leading filler words.
  static std::string named(std::string_view text);
  // Edit distance over user-perceived characters.
  static std::size_t distance(std::string_view a, std::string_view b);

  // The one application the text names, or nothing.
  std::optional<AppRef> app(std::string_view text, bool exact = false) const;
};

// Whether AppCatalog::distance(a, b) <= limit, without computing the cells that cannot matter.
bool withinEditDistance(std::string_view a, std::string_view b, std::size_t limit);

}  // namespace earshot
