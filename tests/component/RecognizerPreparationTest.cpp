#include <gtest/gtest.h>

#include <algorithm>

#include "core/Language.hpp"
#include "platform/PlatformError.hpp"
#include "speech/Failure.hpp"
#include "speech/Recognizer.hpp"
#include "support/FakeSpeech.hpp"
#include "support/SimulatedLoop.hpp"
#include "timing/Race.hpp"

using namespace earshot;
using earshot::testing::FakeSpeechService;
using earshot::testing::SimulatedLoop;
using Strings = std::vector<std::string>;

namespace {

class Preparation : public ::testing::Test {
 protected:
  template <class T>
  T run(Co<T> work) {
    auto activity = spawn(std::move(work), loop);
    loop.runUntilIdle();
    EXPECT_TRUE(activity.finished());
    return activity.result();
  }

  SimulatedLoop loop;
  FakeSpeechService service;
  Recognizer recognizer{service};
};

}  // namespace

TEST(Recognizer, LocalesAndTheOneTranscriberConfiguration) {
  EXPECT_EQ(Recognizer::locale(Language::portuguese), "pt_BR");
  EXPECT_EQ(Recognizer::locale(Language::english), "en_US");
  auto transcriber = Recognizer::makeTranscriber("en_US");
  EXPECT_EQ(transcriber.locale, "en_US");
  EXPECT_TRUE(transcriber.reports(SpeechTranscriber::Reporting::volatileResults));
  EXPECT_TRUE(transcriber.reports(SpeechTranscriber::Reporting::fastResults));
  EXPECT_EQ(transcriber.transcriptionOptions, 0u);
  EXPECT_EQ(transcriber.attributeOptions, 0u);
}

TEST_F(Preparation, ReadinessIsAskedOnceAndThenServedFromTheCache) {
  auto first = run(recognizer.readiness(Language::english));
  EXPECT_EQ(first.locale, "en_US");
  EXPECT_EQ(first.format, *AudioFormat::make(16000, 1));
  EXPECT_EQ(service.calls(), (Strings{"supportedLocale en_US", "format en_US"}));
  EXPECT_EQ(service.lastModules, (std::vector{Recognizer::makeTranscriber("en_US")}));

  // The service would now answer differently; the cache does not ask.
  service.supported.clear();
  service.format = AudioFormat::make(8000, 1);
  auto second = run(recognizer.readiness(Language::english));
  EXPECT_EQ(second.format, first.format);
  EXPECT_EQ(service.calls().size(), 2u);
}

TEST_F(Preparation, FailedReadinessCachesNothingAndNamesTheRequestedLocale) {
  try {
    run(recognizer.readiness(Language::portuguese));
    FAIL();
  } catch (const SpeechFailure& failure) {
    EXPECT_EQ(failure, SpeechFailure::localeUnsupported("pt_BR"));
  }
  service.supported.insert("pt_BR");
  service.format.reset();
  try {
    run(recognizer.readiness(Language::portuguese));
    FAIL();
  } catch (const SpeechFailure& failure) {
    EXPECT_EQ(failure, SpeechFailure::notRunning());
  }
  service.format = AudioFormat::make(16000, 1);
  EXPECT_EQ(run(recognizer.readiness(Language::portuguese)).locale, "pt_BR");
  EXPECT_EQ(service.calls(), (Strings{"supportedLocale pt_BR", "supportedLocale pt_BR",
                                      "format pt_BR", "supportedLocale pt_BR", "format pt_BR"}));
}

TEST_F(Preparation, PrepareReservesInstallsWhatIsMissingThenChecksReadiness) {
  run(recognizer.prepare(Language::english));
  EXPECT_EQ(service.calls(), (Strings{"supportedLocale en_US", "reserve en_US", "request",
                                      "supportedLocale en_US", "format en_US"}));

  // A second preparation walks every step again except the cached readiness.
  service.needsInstallation = true;
  service.reserveFails = true;  // a failed reservation changes nothing
  run(recognizer.prepare(Language::english));
  EXPECT_EQ(
      service.calls(),
      (Strings{"supportedLocale en_US", "reserve en_US", "request", "supportedLocale en_US",
               "format en_US", "supportedLocale en_US", "reserve en_US", "request", "install"}));
}

TEST_F(Preparation, PrepareFailuresReachTheCallerUnchanged) {
  EXPECT_THROW(run(recognizer.prepare(Language::portuguese)), SpeechFailure);
  EXPECT_EQ(service.calls(), (Strings{"supportedLocale pt_BR"}));

  service.needsInstallation = true;
  service.installError = std::make_exception_ptr(PlatformError("fake", 7, "no space"));
  try {
    run(recognizer.prepare(Language::english));
    FAIL();
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.code(), 7);
  }
  service.installError = nullptr;
  service.requestError = std::make_exception_ptr(PlatformError("fake", 8, "offline"));
  EXPECT_THROW(run(recognizer.prepare(Language::english)), PlatformError);
  // Nothing was cached by the failed preparations.
  service.requestError = nullptr;
  service.supported.clear();
  EXPECT_THROW(run(recognizer.readiness(Language::english)), SpeechFailure);
}

TEST_F(Preparation, ASlowQueryOutlivesItsDeadlineAndStillFillsTheCache) {
  service.answerDelay = 3.5;  // each of the two questions
  auto bounded = spawn(answered<Recognizer::Readiness>(
                           6.0, [this] { return recognizer.readiness(Language::english); }),
                       loop);
  loop.runUntilIdle();
  loop.advance(seconds(6.0));
  ASSERT_TRUE(bounded.finished());
  EXPECT_FALSE(bounded.result());  // no answer within 6 s
  loop.advance(seconds(1.0));      // the query goes on and stores its pair
  service.answerDelay = 0;
  service.supported.clear();
  EXPECT_EQ(run(recognizer.readiness(Language::english)).locale, "en_US");
}

// Application commands may be heard in a language whose free speech is not: only a recognizer told
// to hear commands asks for them, and its readiness says so to the service.
TEST_F(Preparation, CommandsOnlyLanguagesAreReadyOnlyForARecognizerOfCommands) {
  service.commandsOnly = {"pt_BR"};
  struct Case {
    bool commands;
    Language language;
    bool ready;
  };
  for (const Case& c :
       {Case{false, Language::portuguese, false}, Case{true, Language::portuguese, true},
        Case{true, Language::english, true}, Case{false, Language::english, true}}) {
    SCOPED_TRACE(std::string(rawValue(c.language)) + (c.commands ? " commands" : ""));
    Recognizer fresh{service};
    if (c.commands) fresh.hearCommandsOnly();
    const std::string locale = Recognizer::locale(c.language);
    try {
      run(fresh.prepare(c.language));
      EXPECT_TRUE(c.ready);
      // The format is asked for a module that hears commands when the recognizer does.
      ASSERT_FALSE(service.lastModules.empty());
      EXPECT_EQ(service.lastModules.front().vocabulary.has_value(), c.commands);
    } catch (const SpeechFailure& failure) {
      EXPECT_FALSE(c.ready);
      EXPECT_EQ(failure, SpeechFailure::localeUnsupported(locale));
    }
    const auto calls = service.calls();
    const std::string asked =
        (c.commands ? "supportedCommandLocale " : "supportedLocale ") + locale;
    EXPECT_NE(std::find(calls.begin(), calls.end(), asked), calls.end());
  }
}
