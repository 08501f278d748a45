#include "cli/FileMode.hpp"

#include "async/Co.hpp"
#include "catalog/AppNames.hpp"
#include "cli/Reason.hpp"
#include "cli/TimeLimit.hpp"
#include "core/Language.hpp"
#include "speech/FileTranscription.hpp"
#include "speech/Recognizer.hpp"

namespace earshot {

namespace {

// These three stay outside the coroutine: gcc mishandles lambdas and braced payloads that live
// in a coroutine frame (captures freed twice).
Activity<std::string> transcribeOnBackground(Platform& platform, const std::string& path,
                                             Language language, bool appNames) {
  return onBackground(
      [&audio = platform.audio, &speech = platform.speech, &workspace = platform.workspace, path,
       language, appNames] {
        std::optional<AppVocabulary> vocabulary;
        if (appNames) vocabulary = earshot::appNames(workspace);
        return transcribeLikeMicrophone(audio, speech, path, language, 3,
                                        MicrophoneFeed::defaultPieceFrames, std::move(vocabulary));
      },
      platform.loop);
}

void giveText(Answer& answer, const std::string& text) {
  answer.give("final", {{"text", text}}, 0);
}

void giveError(Answer& answer, std::exception_ptr error) {
  answer.give("error", reason(error), 1);
}

// Preparation on the main loop, then the blocking transcription on a thread of its own.
Co<void> transcribe(Platform& platform, std::string path, Language language, bool appNames,
                    std::shared_ptr<Answer> answer) {
  try {
    Recognizer recognizer(platform.speech);
    if (appNames) recognizer.hearCommandsOnly();
    co_await recognizer.prepare(language);
    auto work = transcribeOnBackground(platform, path, language, appNames);
    giveText(*answer, co_await work);
  } catch (...) {
    giveError(*answer, std::current_exception());
  }
}

}  // namespace

void startFileMode(Platform& platform, const std::string& path, std::shared_ptr<Answer> answer,
                   double limit, bool appNames) {
  spawn(transcribe(platform, path, spoken.load(), appNames, answer), platform.loop);
  limitAnswer(answer, platform.loop, limit);
}

int fileMode(Platform& platform, const std::string& path, bool appNames) {
  startFileMode(platform, path, std::make_shared<Answer>(), 180.0, appNames);
  platform.loop.run();
  return 1;  // not reached: the answer exits
}

}  // namespace earshot
