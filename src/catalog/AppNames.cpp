#include "catalog/AppNames.hpp"

#include <unordered_set>

namespace earshot {

const std::vector<std::string>& commandWords() {
  static const std::vector<std::string> words{"open",  "launch", "start",
                                              "abrir", "abre",   "iniciar"};
  return words;
}

AppVocabulary appVocabulary(const AppCatalog& catalog) {
  AppVocabulary vocabulary;
  vocabulary.commandWords = commandWords();
  vocabulary.fillerWords = AppCatalog::fillerWords();
  std::unordered_set<std::string> seen;
  auto add = [&](const std::string& name) {
    if (!name.empty() && seen.insert(name).second) vocabulary.names.push_back(name);
  };
  for (const auto& entry : catalog.entries)
    for (const auto& name : entry.names) add(name);
  const std::unordered_set<std::string> installed = seen;
  // A nickname is only worth hearing when it stands for an installed application.
  for (const auto& [nickname, stands] : AppCatalog::nicknames())
    for (const auto& name : stands)
      if (installed.contains(name)) {
        add(nickname);
        break;
      }
  return vocabulary;
}

AppVocabulary appNames(Workspace& workspace) {
  return appVocabulary(AppCatalog::scan(workspace));
}

std::shared_ptr<const AppVocabulary> AppNamesCache::current(Clock::time_point now) {
  std::lock_guard guard(lock_);
  if (!last_ || now - scanned_ >= maxAge_) {
    last_ = std::make_shared<const AppVocabulary>(appNames(workspace_));
    scanned_ = now;
  }
  return last_;
}

}  // namespace earshot
