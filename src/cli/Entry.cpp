#include "cli/Entry.hpp"

#include <array>
#include <string_view>

#include "cli/DictationMode.hpp"
#include "cli/Emit.hpp"
#include "cli/FileMode.hpp"
#include "cli/ListeningMode.hpp"
#include "cli/Lookup.hpp"
#include "cli/Survey.hpp"
#include "core/Language.hpp"
#include "core/VoiceKeyCombo.hpp"

namespace earshot {

namespace {

constexpr std::array<std::string_view, 5> valueOptions{"--open", "--find", "--file", "--language",
                                                       "--key"};

int unavailable() {
  emit("error", {{"reason", "failed"}, {"detail", "not available in this build"}});
  return 1;
}

}  // namespace

int runEntry(const Arguments& arguments, const Modes& modes) {
  spoken = arguments.argument("--language").value_or("pt") == "en" ? Language::english
                                                                   : Language::portuguese;
  fillVoiceKeys();

  for (std::string_view option : valueOptions) {
    if (arguments.flag(option) && !arguments.argument(option)) {
      emit("error", {{"reason", "usage"}, {"detail", std::string(option) + " needs a value"}});
      return 2;
    }
  }

  const auto open = arguments.argument("--open");
  if (auto text = open ? open : arguments.argument("--find")) {
    return modes.lookup ? modes.lookup(*text, arguments.flag("--exact"), open.has_value())
                        : unavailable();
  }
  if (arguments.flag("--keys")) return modes.survey ? modes.survey() : unavailable();
  if (auto path = arguments.argument("--file"))
    return modes.file ? modes.file(*path, arguments.flag("--app-names")) : unavailable();
  const bool appNames = arguments.flag("--app-names");
  if (arguments.flag("--dictate"))
    return modes.dictation ? modes.dictation(appNames) : unavailable();
  const std::string key = arguments.argument("--key").value_or("auto");
  return modes.listening ? modes.listening(key, appNames) : unavailable();
}

Modes modesOn(Platform& platform) {
  Modes modes;
  modes.lookup = [&platform](const std::string& text, bool exact, bool launch) {
    return lookupMode(platform, text, exact, launch);
  };
  modes.survey = [&platform] { return runSurvey(platform.hotKeys); };
  modes.file = [&platform](const std::string& path, bool appNames) {
    return fileMode(platform, path, appNames);
  };
  modes.dictation = [&platform](bool appNames) { return dictationMode(platform, appNames); };
  modes.listening = [&platform](const std::string& key, bool appNames) {
    return listeningMode(platform, key, appNames);
  };
  return modes;
}

int runEntry(const Arguments& arguments, Platform& platform) {
  return runEntry(arguments, modesOn(platform));
}

}  // namespace earshot
