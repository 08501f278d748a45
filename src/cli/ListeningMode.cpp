#include "cli/ListeningMode.hpp"

#include <unistd.h>

#include "cli/Commands.hpp"
#include "cli/Emit.hpp"
#include "cli/Events.hpp"
#include "cli/LiveAppNames.hpp"
#include "core/Language.hpp"
#include "listener/Ear.hpp"
#include "platform/Platform.hpp"

namespace earshot {

int listeningMode(Platform& platform, const std::string& key, bool appNames) {
  MainLoop& loop = platform.loop;
  auto ear = std::make_shared<Ear>(platform, key, cliEvents());
  if (appNames) ear->speech().vocabulary = liveAppNames(platform);
  if (appNames) ear->speech().recognizer().hearCommandsOnly();
  ear->start();
  std::weak_ptr<Ear> weak = ear;
  readLines(
      STDIN_FILENO,
      [&loop, weak](std::string line) {
        const auto words = commandWords(line);
        if (words.empty()) return;
        const std::string& command = words[0];
        if (command == "quit") Answer::terminate(0);
        // Holds the host drives itself.
        if (command == "press" || command == "release" || command == "cancel") {
          loop.post([weak, command] {
            auto target = weak.lock();
            if (!target) return;
            if (command == "press") target->hostPress();
            if (command == "release") target->hostRelease();
            if (command == "cancel") target->hostCancel();
          });
          return;
        }
        if (words.size() < 2) return;
        if (command == "language") {
          auto language = languageFromRaw(words[1]);
          if (!language) return;
          // Stored here, so that a hold that starts before the main thread hears of it already
          // uses the new language.
          spoken = *language;
          loop.post([weak] {
            if (auto target = weak.lock()) target->languageChanged();
          });
        } else if (command == "key") {
          loop.post([weak, name = words[1]] {
            if (auto target = weak.lock()) target->use(name);
          });
        }
      },
      [] { Answer::terminate(0); });
  loop.run();
  return 0;
}

}  // namespace earshot
