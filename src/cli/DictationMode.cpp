#include "cli/DictationMode.hpp"

#include <unistd.h>

#include "cli/Commands.hpp"
#include "cli/Events.hpp"
#include "cli/LiveAppNames.hpp"
#include "dictation/Dictation.hpp"
#include "platform/Platform.hpp"

namespace earshot {

int dictationMode(Platform& platform, bool appNames) {
  MainLoop& loop = platform.loop;
  auto dictation = std::make_shared<Dictation>(platform, cliEvents());
  if (appNames) dictation->speech().vocabulary = liveAppNames(platform);
  if (appNames) dictation->speech().recognizer().hearCommandsOnly();
  dictation->start();
  std::weak_ptr<Dictation> weak = dictation;
  readLines(
      STDIN_FILENO,
      [&loop, weak](std::string line) {
        auto command = dictationCommand(line);
        if (!command) return;
        loop.post([weak, command] {
          auto target = weak.lock();
          if (!target) return;
          if (*command == DictationCommand::stop)
            target->stop();
          else
            target->cancel();
        });
      },
      // A host that closes our input cancels.
      [&loop, weak] {
        loop.post([weak] {
          if (auto target = weak.lock()) target->cancel();
        });
      });
  loop.run();
  return 0;
}

}  // namespace earshot
