#include "cli/FileMode.hpp"

#include <future>

#include "async/Co.hpp"
#include "cli/Reason.hpp"
#include "core/Language.hpp"
#include "speech/SpeechInput.hpp"

namespace earshot {

void startFileMode(const std::string& path, std::shared_ptr<Answer> answer, MainLoop& loop,
                   double limit) {
  const Language language = spoken.load();
  detached([path, answer, language, &loop] {
    try {
      auto prepared = std::make_shared<std::promise<void>>();
      auto ready = prepared->get_future();
      // Preparation belongs to the main thread; this thread waits for its outcome.
      loop.post([language, prepared, &loop] {
        auto preparation = spawn(SpeechInput::prepare(language), loop);
        preparation.onDone([preparation, prepared] {
          try {
            preparation.result();
            prepared->set_value();
          } catch (...) {
            prepared->set_exception(std::current_exception());
          }
        });
      });
      ready.get();
      const std::string text = SpeechInput::transcribeLikeMicrophone(path, language);
      answer->give("final", {{"text", text}}, 0);
    } catch (...) {
      answer->give("error", reason(std::current_exception()), 1);
    }
  });
  loop.after(seconds(limit), [answer] {
    answer->give("error", {{"reason", "failed"}, {"detail", "timed out"}}, 1);
  });
}

int fileMode(const std::string& path) {
  MainLoop& loop = MainLoop::current();
  startFileMode(path, std::make_shared<Answer>(), loop);
  loop.run();
  return 1;  // not reached: the answer exits
}

}  // namespace earshot
