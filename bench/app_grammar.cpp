// The application grammar: building it for 2,500 applications, and "end of input" to "final" with
// it against the general model. Prints figures; takes no arguments.
#include <pocketsphinx.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>

#include "CatalogFixture.hpp"
#include "catalog/AppNames.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "support/AppFixtures.hpp"

using namespace earshot;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

ps_decoder_t* englishDecoder() {
  linux_platform::silenceSphinx();
  linux_platform::PocketSphinxService service;
  auto model = service.model("en_US");
  if (!model) return nullptr;
  cmd_ln_t* config =
      cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model->acoustic.c_str(), "-lm",
                  model->language.c_str(), "-dict", model->dictionary.c_str(), nullptr);
  return ps_init(config);
}

// Names nobody's dictionary has, so that every word goes through the letter-to-sound rules.
AppVocabulary inventedNames(int count) {
  static const char* syllables[] = {"zor", "ba",  "nix", "quel", "tra", "vo", "lin", "dex", "ka",
                                    "mu",  "ren", "sil", "po",   "gat", "fy", "wen", "hul", "ti"};
  std::mt19937 random(7);
  std::uniform_int_distribution<int> pick(0, std::size(syllables) - 1);
  AppCatalog catalog;
  for (int i = 0; i < count; ++i) {
    std::string name;
    for (int word = 0; word < 2; ++word) {
      if (word) name += ' ';
      for (int s = 0; s < 3; ++s) name += syllables[pick(random)];
    }
    catalog.entries.push_back({AppRef{name, std::nullopt, "/x/" + std::to_string(i)}, {name}});
  }
  return appVocabulary(catalog);
}

void buildTimes(ps_decoder_t* decoder, linux_platform::GrammarState& given, const char* what,
                const AppVocabulary& vocabulary, linux_platform::GrammarWords words = {}) {
  auto start = Clock::now();
  auto grammar = linux_platform::appGrammar(decoder, given, vocabulary, words);
  const double build = millisecondsSince(start);
  start = Clock::now();
  linux_platform::useGrammar(decoder, given, grammar);
  const double install = millisecondsSince(start);
  // A take after one application was installed: pronunciations already made are kept.
  AppVocabulary changed = vocabulary;
  changed.names.push_back("inkscape");
  start = Clock::now();
  auto again = linux_platform::appGrammar(decoder, given, changed, words);
  const double rebuild = millisecondsSince(start);
  start = Clock::now();
  linux_platform::useGrammar(decoder, given, again);
  const double reinstall = millisecondsSince(start);
  std::printf(
      "%s: %zu names, %zu words made up; first build %.1f ms + into the decoder %.1f ms; "
      "after one more application %.1f ms + %.1f ms\n",
      what, grammar->names.size(), grammar->additions.size(), build, install, rebuild, reinstall);
}

// One analysis of a synthesized command: the time from the end of the input to the last result.
double endToFinal(linux_platform::PocketSphinxService& service, const SpeechTranscriber& module,
                  const std::vector<PcmBufferRef>& buffers, std::string& text) {
  auto analyzer = service.makeAnalyzer({module}, {});
  AnalyzerInputStream input;
  auto results = analyzer->results();
  analyzer->start(input);
  for (const auto& buffer : buffers) input.yield({buffer});
  // Live audio arrives over time: let the analyzer catch up, as it does during a take.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const auto start = Clock::now();
  input.finish();
  analyzer->finalizeAndFinishThroughEndOfInput();
  const double elapsed = millisecondsSince(start);
  text.clear();
  while (auto result = results.pop())
    if (result->isFinal) text += result->text;
  return elapsed;
}

std::vector<PcmBufferRef> synthesized(const std::string& sentence) {
  earshot::testing::TemporaryFolder folder;
  const std::string path = folder.file("command.wav");
  const std::string command = "flite -voice slt -t '" + sentence + "' -o " + path;
  if (std::system(command.c_str()) != 0) return {};
  linux_platform::LinuxAudioToolkit audio;
  auto file = audio.openForReading(path);
  auto whole =
      PcmBuffer::make(file->processingFormat(), static_cast<std::uint32_t>(file->length()));
  file->read(*whole);
  std::vector<float> samples(8000, 0.0f);
  samples.insert(samples.end(), whole->floatChannelData()[0],
                 whole->floatChannelData()[0] + whole->frameLength());
  samples.resize(samples.size() + 8000, 0.0f);
  std::vector<PcmBufferRef> out;
  for (std::size_t start = 0; start < samples.size(); start += 683) {
    const auto count =
        static_cast<std::uint32_t>(std::min<std::size_t>(683, samples.size() - start));
    auto buffer = PcmBuffer::make(*AudioFormat::make(16000, 1), count);
    buffer->setFrameLength(count);
    std::copy(samples.begin() + start, samples.begin() + start + count,
              buffer->floatChannelData()[0]);
    out.push_back(buffer);
  }
  return out;
}

}  // namespace

int main() {
  ps_decoder_t* decoder = englishDecoder();
  if (!decoder) {
    std::printf("app grammar: skipped (no English model)\n");
    return 0;
  }

  earshot::testing::TemporaryFolder root;
  earshot::bench::makeCatalog(root.path());
  earshot::testing::FixtureWorkspace workspace(root.path() + "/sys", root.path() + "/home");
  earshot::bench::addDesktopEntries(workspace);
  auto start = Clock::now();
  const AppVocabulary fixture = appNames(workspace);
  std::printf("catalog scan and vocabulary: %.1f ms\n", millisecondsSince(start));
  linux_platform::GrammarState given;  // what the decoder has been given, as its pool keeps it
  buildTimes(decoder, given, "2,500 applications of the catalog benchmark", fixture);
  buildTimes(decoder, given, "2,500 applications with invented names", inventedNames(2500));
  buildTimes(decoder, given,
             "the catalog benchmark's 2,500 applications read in Brazilian Portuguese", fixture,
             {linux_platform::RecognizerLanguage::brazilianPortuguese,
              linux_platform::RecognizerLanguage::english});
  ps_free(decoder);

  linux_platform::PocketSphinxService service;
  SpeechTranscriber general{"en_US", 0, 3, 0, std::nullopt};
  SpeechTranscriber names = general;
  AppCatalog small;
  for (const char* name : {"firefox", "inkscape", "gimp", "visual studio code", "calculator"})
    small.entries.push_back({AppRef{name, std::nullopt, std::string("/x/") + name}, {name}});
  AppVocabulary vocabulary = appVocabulary(small);
  for (const auto& name : fixture.names) vocabulary.names.push_back(name);
  names.vocabulary = vocabulary;
  const auto buffers = synthesized("open inkscape");
  if (buffers.empty()) {
    std::printf("end of input to final: skipped (no flite)\n");
    return 0;
  }
  std::string text;
  endToFinal(service, names, buffers, text);  // loads the model and installs the grammar
  // A sentence that names nothing is heard a second time before its final.
  const auto unrelated = synthesized("what time is it");
  double rejected = 1e9;
  for (int round = 0; round < 5; ++round)
    rejected = std::min(rejected, endToFinal(service, names, unrelated, text));
  std::printf(
      "end of input to final, grammar of 2,505 applications, a sentence it rejects: "
      "%.1f ms (best of 5), final \"%s\"\n",
      rejected, text.c_str());
  // The same with the Portuguese commands' warped passes (English has none): the cost is the
  // same in either language.
  const auto inForce = linux_platform::grammarCosts();
  if (inForce.english.warps.empty() && !inForce.portuguese.warps.empty()) {
    auto warped = inForce;
    warped.english.warps = inForce.portuguese.warps;
    linux_platform::setGrammarCosts(warped);
    rejected = 1e9;
    for (int round = 0; round < 5; ++round)
      rejected = std::min(rejected, endToFinal(service, names, unrelated, text));
    std::printf(
        "end of input to final, the same with the Portuguese warped passes: %.1f ms (best of 5), "
        "final \"%s\"\n",
        rejected, text.c_str());
    linux_platform::setGrammarCosts(inForce);
  }
  for (const auto* module : {&general, &names}) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round)
      best = std::min(best, endToFinal(service, *module, buffers, text));
    std::printf("end of input to final, %s: %.1f ms (best of 5), final \"%s\"\n",
                module->vocabulary ? "with the grammar of 2,505 applications" : "general model",
                best, text.c_str());
  }
  return 0;
}
