#include "cli/FileMode.hpp"

#include <future>

#include "async/Co.hpp"
#include "cli/Reason.hpp"
#include "core/Language.hpp"
#include "speech/SpeechInput.hpp"

namespace earshot {

namespace {

Co<void> prepareThenSignal(Language language, std::shared_ptr<std::promise<void>> done) {
  try {
    co_await SpeechInput::prepare(language);
    done->set_value();
  } catch (...) {
    done->set_exception(std::current_exception());
  }
}

}  // namespace

void startFileMode(const std::string& path, std::shared_ptr<Answer> answer, MainLoop& loop,
                   double limit) {
  const Language language = spoken.load();
  detached([path, answer, language, &loop] {
    try {
      auto prepared = std::make_shared<std::promise<void>>();
      auto ready = prepared->get_future();
      loop.post(
          [language, prepared, &loop] { spawn(prepareThenSignal(language, prepared), loop); });
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
