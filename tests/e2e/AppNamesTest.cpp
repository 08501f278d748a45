// Spoken application commands with --app-names: the final is a name that --find resolves, and
// speech that names nothing gives "".
#include <gtest/gtest.h>
#include <pocketsphinx.h>

#include <cstdlib>

#include "catalog/AppNames.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "platform/linux/SphinxModels.hpp"
#include "speech/FileTranscription.hpp"
#include "support/AppFixtures.hpp"
#include "support/GrammarDecoder.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"

using namespace earshot;
using namespace earshot::testing;

namespace {

std::string synthesize(const TemporaryFolder& dir, const std::string& name, const std::string& text,
                       const std::string& voice = "slt") {
  const std::string path = dir.file(name + ".wav");
  const std::string command = "flite -voice " + voice + " -t '" + text + "' -o " + path;
  EXPECT_EQ(std::system(command.c_str()), 0);
  return path;
}

// Brazilian Portuguese from espeak-ng, written out as a WAV file.
std::string speakPortuguese(const TemporaryFolder& dir, const std::string& name,
                            const std::string& text, const std::string& voice = "pt-br") {
  const std::string path = dir.file(name + ".wav");
  const std::string command =
      "espeak-ng -v " + voice + " -w " + path + " '" + text + "' 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return path;
}

// A few desktop entries under a private HOME and XDG folders.
class Machine {
 public:
  Machine() {
    for (const auto& [id, name] : std::vector<std::pair<std::string, std::string>>{
             {"org.inkscape.Inkscape", "Inkscape"},
             {"gimp", "GNU Image Manipulation Program"},
             {"code", "Visual Studio Code"},
             {"com.obsproject.Studio", "OBS Studio"},
             {"firefox", "Firefox"},
             {"org.gnome.Calculator", "Calculator"},
             {"org.gnome.Terminal", "Terminal"}})
      makeDesktopFile(folder_.path() + "/data/applications/" + id + ".desktop",
                      {"Type=Application", "Name=" + name, "Exec=true"});
  }

  RunResult run(const std::vector<std::string>& arguments,
                const std::map<std::string, std::string>& more = {},
                const std::string& program = EARSHOT_BINARY) const {
    RunOptions options;
    options.environment = {{"HOME", folder_.path() + "/home"},
                           {"XDG_DATA_HOME", folder_.path() + "/data"},
                           {"XDG_DATA_DIRS", folder_.path() + "/none"},
                           {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder_.path() + "/no-bus"}};
    options.environment.insert(more.begin(), more.end());
    options.timeout = std::chrono::seconds(120);
    return earshot::testing::run(program, arguments, options);
  }

  // The one event of a run, checked for its status and a silent standard error.
  nlohmann::json answer(const std::vector<std::string>& arguments, int status) const {
    const RunResult result = run(arguments);
    EXPECT_EQ(result.status, status) << result.out;
    EXPECT_EQ(result.err, "");
    const auto events = result.events();
    EXPECT_EQ(events.size(), 1u) << result.out;
    return events.empty() ? nlohmann::json() : events[0];
  }

  const TemporaryFolder& folder() const { return folder_; }

 private:
  TemporaryFolder folder_;
};

using Speak = std::string (*)(const TemporaryFolder&, const std::string&, const std::string&,
                              const std::string&);

struct Command {
  const char* said;
  const char* voice;
  const char* application;  // what --find answers; nullptr: the final is ""
};

// Each command said into a file and heard with --app-names in `language`: the final is a name that
// --find resolves to the application, or "" for speech that names none.
void expectResolved(const Machine& machine, Speak speak, const std::string& language,
                    std::initializer_list<Command> commands) {
  for (const Command& c : commands) {
    SCOPED_TRACE(c.said);
    const auto path = speak(machine.folder(), "said", c.said, c.voice);
    const auto final = machine.answer({"--file", path, "--app-names", "--language", language}, 0);
    ASSERT_EQ(final.value("event", ""), "final") << final;
    const std::string text = final.value("text", "");
    if (!c.application) {
      EXPECT_EQ(text, "");
      continue;
    }
    const auto found = machine.answer({"--find", text, "--language", language}, 0);
    EXPECT_EQ(found.value("name", ""), c.application) << text;
  }
}

// The text of a dictation with --app-names into which `path` is played once the take listens;
// then "stop" is written (and the input kept open: its end would cancel). Empty, and a failure,
// without a final.
std::string dictated(const Machine& machine, const PulseServer& pulse, const std::string& path,
                     const std::string& language) {
  const std::string script =
      "{ sleep 1.5; paplay --device=mic \"$1\"; sleep 1; echo stop; sleep 3; } |"
      " exec \"$0\" --dictate --app-names --language " +
      language;
  const auto result =
      machine.run({"-c", script, EARSHOT_BINARY, path}, pulse.environment(), "/bin/sh");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.err, "");
  const auto events = result.events();
  if (events.empty() || events.back().value("event", "") != "final") {
    ADD_FAILURE() << "no final: " << result.out;
    return {};
  }
  return events.back().value("text", "");
}

}  // namespace

TEST(AppNamesCommand, CommandsGiveNamesThatFindResolvesAndOtherSpeechNothing) {
  expectResolved(Machine(), synthesize, "en",
                 {{"open inkscape", "slt", "Inkscape"},
                  {"launch gimp", "rms", "GNU Image Manipulation Program"},
                  {"open visual studio code", "awb", "Visual Studio Code"},
                  {"open o b s studio", "slt", "OBS Studio"},
                  {"what time is it", "slt", nullptr}});
}

// The live modes hear the same names: a command said into the microphone during a dictation.
TEST(AppNamesCommand, ADictationHearsAnApplicationName) {
  Machine machine;
  PulseServer pulse;
  ASSERT_TRUE(pulse.running());
  const auto path = synthesize(machine.folder(), "said", "open visual studio code");
  const std::string text = dictated(machine, pulse, path, "en");
  const auto found = machine.answer({"--find", text, "--language", "en"}, 0);
  EXPECT_EQ(found.value("name", ""), "Visual Studio Code") << text;
}

TEST(AppNamesCommand, WithoutTheFlagTheGeneralModelHearsTheSameFile) {
  Machine machine;
  const auto path = synthesize(machine.folder(), "said", "open inkscape");
  const auto final = machine.answer({"--file", path, "--language", "en"}, 0);
  EXPECT_NE(final.value("text", ""), "inkscape") << final;
}

// Free Portuguese speech needs a Portuguese model; commands do not.
TEST(AppNamesCommand, PortugueseWithoutItsModelIsAnUnsupportedLocaleForFreeSpeech) {
  if (linux_platform::PocketSphinxService(EARSHOT_SPHINX_MODELDIR).model("pt_BR"))
    GTEST_SKIP() << "a Portuguese model is installed";
  Machine machine;
  const auto path = speakPortuguese(machine.folder(), "said", "abre o firefox");
  const auto error = machine.answer({"--file", path, "--language", "pt"}, 1);
  EXPECT_EQ(error, (nlohmann::json{
                       {"event", "error"}, {"reason", "locale-unsupported"}, {"detail", "pt_BR"}}));
}

// Without a Portuguese model, Portuguese is a language of commands only: the service offers its
// locale, format and analyzers for modules with a vocabulary and for no others.
TEST(AppNamesRecognizer, PortugueseIsALocaleOfCommandsOnlyWithoutItsModel) {
  linux_platform::PocketSphinxService service(EARSHOT_SPHINX_MODELDIR);
  if (service.model("pt_BR")) GTEST_SKIP() << "a Portuguese model is installed";
  const SpeechTranscriber speech{"pt_BR", 0, 3, 0, std::nullopt};
  const SpeechTranscriber commands{"pt_BR", 0, 3, 0, AppVocabulary{}};
  EXPECT_EQ(service.supportedLocale("pt"), std::nullopt);
  EXPECT_EQ(service.supportedCommandLocale("pt"), "pt_BR");
  EXPECT_EQ(service.supportedCommandLocale("en-US"), "en_US");
  EXPECT_EQ(service.supportedCommandLocale("fr_FR"), std::nullopt);
  EXPECT_FALSE(service.bestAvailableAudioFormat({speech}));
  EXPECT_TRUE(service.bestAvailableAudioFormat({commands}));
  EXPECT_EQ(service.makeAnalyzer({speech}, {}), nullptr);
  EXPECT_NE(service.makeAnalyzer({commands}, {}), nullptr);
}

// Brazilian Portuguese commands on the English model: the final is the name heard, as in English.
TEST(AppNamesCommand, PortugueseCommandsGiveNamesThatFindResolvesAndOtherSpeechNothing) {
  expectResolved(Machine(), speakPortuguese, "pt",
                 {{"abrir o firefox", "pt-br", "Firefox"},
                  {"abre o firefox por favor", "pt-br+m3", "Firefox"},
                  {"iniciar o inkscape", "pt-br+f2", "Inkscape"},
                  {"o tempo está bonito hoje", "pt-br", nullptr}});
}

TEST(AppNamesCommand, APortugueseDictationHearsAnApplicationName) {
  Machine machine;
  PulseServer pulse;
  ASSERT_TRUE(pulse.running());
  const auto path = speakPortuguese(machine.folder(), "said", "iniciar o inkscape");
  EXPECT_EQ(dictated(machine, pulse, path, "pt"), "inkscape");
}

// The analyzer itself: each analysis hears the vocabulary of its own module, on decoders that
// already took another grammar, and the general model stays as it was beside them.
TEST(AppNamesRecognizer, EachAnalyzerHearsItsOwnVocabulary) {
  linux_platform::PocketSphinxService service;
  linux_platform::LinuxAudioToolkit audio;
  TemporaryFolder dir;
  const auto path = synthesize(dir, "said", "open krita");
  auto analyse = [&](const std::vector<std::string>& names) {
    AppCatalog catalog;
    for (const auto& name : names)
      catalog.entries.push_back({AppRef{name, {}, "/x/" + name}, {name}});
    return transcribeLikeMicrophone(audio, service, path, Language::english, 3,
                                    MicrophoneFeed::defaultPieceFrames, appVocabulary(catalog));
  };
  const std::string general = transcribeLikeMicrophone(audio, service, path, Language::english);
  EXPECT_EQ(analyse({"krita", "firefox"}), "krita");
  // Krita uninstalled: its name is no longer heard, and nothing else is forced in its place.
  EXPECT_EQ(analyse({"firefox", "terminal"}), "");
  EXPECT_EQ(analyse({"krita 2", "krita"}), "krita");
  EXPECT_EQ(analyse({}), "");  // an empty catalog names nothing
  EXPECT_EQ(transcribeLikeMicrophone(audio, service, path, Language::english), general);
}

// The garbage loop's cost is the rejection threshold: too dear, it lets an unrelated sentence be
// forced onto a name; at the chosen cost the sentence is rejected and a name still heard. Each
// language has its own cost, and a decoder switching languages takes the right one.
TEST(AppNamesGrammar, TheGarbageCostDecidesBetweenRejectingAndForcing) {
  GrammarDecoder names(EARSHOT_SPHINX_MODELDIR);
  ASSERT_TRUE(names.decoder);
  ps_decoder_t* decoder = names.decoder;
  auto& given = names.given;
  const auto& grammar = names.grammar;
  using linux_platform::RecognizerLanguage;

  TemporaryFolder dir;
  const linux_platform::GrammarCosts chosen;
  auto forcing = chosen;
  forcing.english.garbagePhone = 1e-9;
  auto portugueseForcing = chosen;
  portugueseForcing.portuguese.garbagePhone = 1e-9;
  struct Case {
    const char* said;
    linux_platform::GrammarCosts costs;
    RecognizerLanguage language;
    bool named;
  };
  const Case cases[]{
      {"open krita", chosen, RecognizerLanguage::english, true},
      {"turn off the lights in the kitchen", chosen, RecognizerLanguage::english, false},
      {"turn off the lights in the kitchen", forcing, RecognizerLanguage::english, true},
      {"turn off the lights in the kitchen", portugueseForcing, RecognizerLanguage::english, false},
      {"turn off the lights in the kitchen", portugueseForcing,
       RecognizerLanguage::brazilianPortuguese, true},
      {"turn off the lights in the kitchen", portugueseForcing, RecognizerLanguage::english, false},
  };
  for (const auto& c : cases) {
    linux_platform::useGrammar(decoder, given, grammar, c.costs, c.language);
    const auto pcm = spokenSamples(c.said, dir);
    ps_start_utt(decoder);
    ps_process_raw(decoder, pcm.data(), pcm.size(), FALSE, TRUE);
    ps_end_utt(decoder);
    const char* hypothesis = ps_get_hyp(decoder, nullptr);
    const auto name = grammar->text(hypothesis ? hypothesis : "");
    EXPECT_EQ(!name.empty(), c.named) << c.said << " -> \"" << name << "\"";
  }
}
