#include "catalog/AppCatalog.hpp"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <unordered_map>

#include "catalog/Plain.hpp"
#include "core/Language.hpp"
#include "formats/PropertyList.hpp"

namespace earshot {

namespace {

constexpr std::string_view coreServices = "/System/Library/CoreServices";

std::string lastComponent(const std::string& path) {
  std::string_view view = path;
  while (view.size() > 1 && view.back() == '/') view.remove_suffix(1);
  auto slash = view.rfind('/');
  return std::string(slash == std::string_view::npos ? view : view.substr(slash + 1));
}

// The extension as a URL sees it: after the last dot of the last component, not a leading one.
std::string extension(const std::string& component) {
  auto dot = component.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return component.substr(dot + 1);
}

std::string withoutExtension(const std::string& component) {
  auto dot = component.rfind('.');
  if (dot == std::string::npos || dot == 0) return component;
  return component.substr(0, dot);
}

std::string withoutApp(std::string text) {
  for (auto at = text.find(".app"); at != std::string::npos; at = text.find(".app", at)) {
    text.erase(at, 4);
  }
  return text;
}

// A path with a stray byte could only be reported altered, and then names no file at all.
bool validUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  if (static_cast<std::size_t>(length) != text.size()) return false;
  for (int32_t at = 0; at < length;) {
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::vector<std::string> plainNames(const std::vector<std::string>& candidates) {
  std::vector<std::string> names;
  for (const auto& candidate : candidates) {
    std::string name = plain(candidate);
    if (name.empty() || std::find(names.begin(), names.end(), name) != names.end()) continue;
    names.push_back(std::move(name));
  }
  return names;
}

// "org.gnome.Calendar.desktop" -> "Calendar". IDs that are not reverse-domain names stay whole: a
// domain has at least two labels before the name, each beginning with a letter, so a versioned
// "gimp-2.10.22" keeps its number.
std::string desktopBundleName(const std::string& id) {
  std::string stem = id.ends_with(".desktop") ? id.substr(0, id.size() - 8) : id;
  const auto last = stem.rfind('.');
  if (last == std::string::npos || last + 1 == stem.size()) return stem;
  int labels = 0;
  for (size_t start = 0; start <= last; ++labels) {
    const size_t end = stem.find('.', start);
    const char first = stem[start];
    if (end == start || !((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z')))
      return stem;
    start = end + 1;
  }
  return labels >= 2 ? stem.substr(last + 1) : stem;
}

// Bundle files are small; a larger one is not what it claims to be.
constexpr std::size_t bundleFileLimit = 16u << 20;

// A property-list or strings file of the bundle; empty when it is missing, unreadable, not a
// regular file or not a dictionary.
PropertyDictionary readDictionary(const Workspace& workspace, const std::string& path) {
  auto bytes = workspace.readFile(path, bundleFileLimit);
  if (!bytes) return {};
  return PropertyDictionary::parse(*bytes);
}

void take(const PropertyDictionary& dictionary, std::vector<std::string>& list) {
  for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
    auto text = dictionary.text(key);
    if (text && !text->empty() && std::find(list.begin(), list.end(), *text) == list.end()) {
      list.push_back(*text);
    }
  }
}

}  // namespace

const std::map<std::string, std::vector<std::string>>& AppCatalog::nicknames() {
  static const std::map<std::string, std::vector<std::string>> table{
      {"zap", {"whatsapp"}},
      {"zapzap", {"whatsapp"}},
      {"whats", {"whatsapp"}},
      {"wpp", {"whatsapp"}},
      {"uatsap", {"whatsapp"}},
      {"chrome", {"google chrome"}},
      {"navegador", {"vesko browser", "safari", "google chrome"}},
      {"browser", {"vesko browser", "safari"}},
      {"navegador da vesko", {"vesko browser"}},
      {"vs code", {"visual studio code"}},
      {"vscode", {"visual studio code"}},
      {"code", {"visual studio code"}},
      {"configuracoes", {"ajustes do sistema", "system settings"}},
      {"ajustes", {"ajustes do sistema", "system settings"}},
      {"preferencias", {"ajustes do sistema", "system settings"}},
      {"settings", {"system settings", "ajustes do sistema"}},
      {"musica", {"musica", "music", "spotify"}},
      {"music", {"music", "musica", "spotify"}},
      {"agenda", {"calendario", "calendar"}},
      {"calendario", {"calendario", "calendar"}},
      {"email", {"mail"}},
      {"e mail", {"mail"}},
      {"correio", {"mail"}},
      {"mensagem", {"mensagens", "messages"}},
      {"imessage", {"mensagens", "messages"}},
      {"camera", {"photo booth"}},
      {"loja", {"app store"}},
      {"loja de apps", {"app store"}},
      {"chat gpt", {"chatgpt"}},
      {"gpt", {"chatgpt"}},
      {"cloud", {"claude"}},
      {"clode", {"claude"}},
      {"final cut", {"final cut pro"}},
      {"pixelmator", {"pixelmator pro"}},
      {"lol", {"league of legends"}},
      {"arquivos", {"finder"}},
      {"gerenciador de arquivos", {"finder"}},
  };
  return table;
}

std::vector<std::string> AppCatalog::roots(const std::string& homeFolder) {
  std::string home = homeFolder;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return {"/Applications",
          "/Applications/Utilities",
          "/System/Applications",
          "/System/Applications/Utilities",
          "/System/Cryptexes/App/System/Applications",
          std::string(coreServices),
          (home == "/" ? "" : home) + "/Applications"};
}

std::vector<std::string> AppCatalog::portugueseNames(const Workspace& workspace,
                                                     const std::string& bundle) {
  const std::string resources = bundle + "/Contents/Resources/";
  std::vector<std::string> list;
  if (auto table = readDictionary(workspace, resources + "InfoPlist.loctable")) {
    for (const char* code : {"pt_BR", "pt-BR", "pt", "pt_PT", "pt-PT"}) {
      if (auto language = table.dictionary(code)) take(language, list);
    }
  }
  if (!list.empty()) return list;
  for (const char* code : {"pt-BR", "pt_BR", "pt", "pt-PT", "pt_PT"}) {
    if (auto strings = readDictionary(workspace, resources + code + ".lproj/InfoPlist.strings")) {
      take(strings, list);
    }
  }
  return list;
}

std::optional<AppCatalog::Entry> AppCatalog::entry(const Workspace& workspace,
                                                   const std::string& bundle) {
  if (!validUtf8(bundle)) return std::nullopt;
  const auto info = readDictionary(workspace, bundle + "/Contents/Info.plist");
  if (info.isTrue("LSUIElement")) return std::nullopt;

  const std::string displayName = withoutApp(workspace.displayName(bundle));
  const std::string fileName = withoutExtension(lastComponent(bundle));
  const std::optional<std::string> bundleName = info.text("CFBundleName");
  const std::vector<std::string> portuguese = portugueseNames(workspace, bundle);

  std::vector<std::string> candidates{displayName, fileName};
  if (bundleName) candidates.push_back(*bundleName);
  candidates.insert(candidates.end(), portuguese.begin(), portuguese.end());
  auto names = plainNames(candidates);
  if (names.empty()) return std::nullopt;

  const std::string& shown = spoken.load() == Language::english
                                 ? fileName
                                 : (portuguese.empty() ? displayName : portuguese.front());
  return Entry{AppRef{withoutFormatCharacters(shown), info.text("CFBundleIdentifier"), bundle},
               std::move(names)};
}

std::optional<AppCatalog::Entry> AppCatalog::entry(const DesktopEntry& desktop) {
  if (desktop.hidden || !validUtf8(desktop.path)) return std::nullopt;
  const std::string displayName = withoutApp(desktop.name);
  std::vector<std::string> candidates{displayName, desktop.unlocalizedName,
                                      desktopBundleName(desktop.id)};
  candidates.insert(candidates.end(), desktop.portugueseNames.begin(),
                    desktop.portugueseNames.end());
  auto names = plainNames(candidates);
  if (names.empty()) return std::nullopt;
  const std::string& shown =
      spoken.load() == Language::english
          ? desktop.unlocalizedName
          : (desktop.portugueseNames.empty() ? displayName : desktop.portugueseNames.front());
  return Entry{AppRef{withoutFormatCharacters(shown), desktop.id, desktop.path}, std::move(names)};
}

AppCatalog AppCatalog::scan(Workspace& workspace) {
  return scan(workspace, roots(workspace.homeFolder()));
}

AppCatalog AppCatalog::scan(Workspace& workspace, const std::vector<std::string>& folders) {
  std::unordered_map<std::string, std::size_t> index;  // key -> position in `catalog.entries`
  AppCatalog catalog;
  auto store = [&](std::string key, Entry entry) {
    if (index.contains(key)) return;
    index.emplace(std::move(key), catalog.entries.size());
    catalog.entries.push_back(std::move(entry));
  };

  for (const auto& root : folders) {
    auto children = workspace.contentsOfDirectory(root);
    if (!children) continue;
    const bool onlyFinder = root == coreServices;
    for (const auto& child : *children) {
      const std::string component = lastComponent(child);
      if (extension(component) != "app" || component.starts_with('.')) continue;
      if (onlyFinder && component != "Finder.app") continue;
      auto found = entry(workspace, child);
      if (!found) continue;
      std::string key =
          found->app.bundleID ? *found->app.bundleID : workspace.resolvingSymlinks(child);
      store(std::move(key), std::move(*found));
    }
  }

  for (const auto& desktop : workspace.desktopEntries()) {
    if (auto found = entry(desktop)) store(desktop.id, std::move(*found));
  }

  for (const auto& running : workspace.runningApplications()) {
    if (!running.regular || !running.bundleLocation) continue;
    const std::string& location = *running.bundleLocation;
    std::string key = running.bundleIdentifier ? *running.bundleIdentifier
                                               : workspace.resolvingSymlinks(location);
    if (auto at = index.find(key); at != index.end()) {
      catalog.entries[at->second].app.isRunning = true;
      continue;
    }
    std::optional<Entry> found;
    if (location.ends_with(".desktop")) {
      if (auto desktop = workspace.desktopEntry(
              location, running.bundleIdentifier.value_or(lastComponent(location)))) {
        found = entry(*desktop);
      }
    } else {
      found = entry(workspace, location);
    }
    if (!found) continue;
    found->app.isRunning = true;
    store(std::move(key), std::move(*found));
  }
  return catalog;
}

}  // namespace earshot
