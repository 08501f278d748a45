// Spoken application commands over a matrix of voices and rooms, through the file path that
// `earshot --file x --app-names` takes (48 kHz stereo, shaped like the microphone), then the
// lookup `earshot --find` makes, all in one process so that a grid of grammar settings can be
// tried. The catalog is the machine's (HOME and XDG folders set by bench/app_matrix.sh).
//
// Usage: bench_app_matrix <manifest> [garbage,filler,dither,silence,noise,second ...]
// Manifest lines, tab-separated: wav, en|pt, condition, tuning|held, desktop-file ID ("" for an
// unrelated sentence), what is said. Without settings, the analyzers' own costs are measured.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "catalog/AppCatalog.hpp"
#include "catalog/AppNames.hpp"
#include "core/Language.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/LinuxWorkspace.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "speech/FileTranscription.hpp"

using namespace earshot;

namespace {

struct Line {
  std::string wav, language, condition, half, id, said;
};

struct Tally {
  int right = 0, commands = 0, rejected = 0, unrelated = 0;
  void add(const Tally& other) {
    right += other.right;
    commands += other.commands;
    rejected += other.rejected;
    unrelated += other.unrelated;
  }
};

double percent(int part, int whole) {
  return whole == 0 ? 0.0 : 100.0 * part / whole;
}

std::vector<Line> readManifest(const std::string& path) {
  std::vector<Line> lines;
  std::ifstream in(path);
  for (std::string text; std::getline(in, text);) {
    std::vector<std::string> fields;
    std::stringstream row(text);
    for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
    if (fields.size() < 6) continue;
    lines.push_back({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]});
  }
  return lines;
}

std::string idOf(const AppRef& app) {
  std::string id = app.path.substr(app.path.find_last_of('/') + 1);
  if (id.ends_with(".desktop")) id.resize(id.size() - 8);
  return id;
}

linux_platform::GrammarCosts parseSetting(const std::string& text) {
  linux_platform::GrammarCosts costs;
  int second = 0;
  std::sscanf(text.c_str(), "%lf,%lf,%lf,%lf,%lf,%d", &costs.garbagePhone, &costs.filler,
              &costs.dither, &costs.silence, &costs.noise, &second);
  costs.secondPass = static_cast<linux_platform::GrammarCosts::SecondPass>(second);
  return costs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_app_matrix <manifest> [garbage,filler,dither ...]\n");
    return 2;
  }
  const auto lines = readManifest(argv[1]);
  std::vector<linux_platform::GrammarCosts> settings;
  for (int i = 2; i < argc; ++i) settings.push_back(parseSetting(argv[i]));
  if (settings.empty()) settings.push_back(linux_platform::grammarCosts());
  const bool verbose = std::getenv("VERBOSE") != nullptr;

  linux_platform::LinuxAudioToolkit audio;
  linux_platform::PocketSphinxService speech;
  linux_platform::LinuxWorkspace workspace;
  const AppCatalog catalog = AppCatalog::scan(workspace);
  const AppVocabulary vocabulary = appVocabulary(catalog);

  for (const auto& costs : settings) {
    linux_platform::setGrammarCosts(costs);
    // language -> condition -> (half, tally); conditions in manifest order.
    std::map<std::string, std::vector<std::pair<std::string, std::pair<std::string, Tally>>>> table;
    std::string misses;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& line : lines) {
      std::string text;
      try {
        text = transcribeLikeMicrophone(
            audio, speech, line.wav,
            line.language == "pt" ? Language::portuguese : Language::english, 2,
            MicrophoneFeed::defaultPieceFrames, vocabulary);
      } catch (...) {
        text = "(error)";
      }
      std::optional<AppRef> app;
      if (!text.empty() && text != "(error)") app = catalog.app(text);
      auto& rows = table[line.language];
      auto row = std::find_if(rows.begin(), rows.end(),
                              [&](const auto& r) { return r.first == line.condition; });
      if (row == rows.end()) {
        rows.push_back({line.condition, {line.half, Tally{}}});
        row = rows.end() - 1;
      }
      Tally& tally = row->second.second;
      if (!line.id.empty()) {
        ++tally.commands;
        if (app && idOf(*app) == line.id)
          ++tally.right;
        else
          misses += " [" + line.condition + ": " + line.said + " -> \"" + text + "\"]";
      } else {
        ++tally.unrelated;
        if (!app)
          ++tally.rejected;
        else
          misses += " [" + line.condition + ": " + line.said + " -> \"" + text + "\"]";
      }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "== garbage %g, filler %g, dither %g, silence %g, noise %g, second pass %d (%zu files, "
        "%.0f ms each)\n",
        costs.garbagePhone, costs.filler, costs.dither, costs.silence, costs.noise,
        static_cast<int>(costs.secondPass), lines.size(),
        lines.empty() ? 0.0 : 1000 * seconds / static_cast<double>(lines.size()));
    for (const auto& [language, rows] : table) {
      std::printf("| %s condition | half | commands right | unrelated rejected |\n",
                  language.c_str());
      std::printf("|---|---|---|---|\n");
      std::map<std::string, Tally> halves;
      std::map<std::string, double> worst;
      for (const auto& [condition, entry] : rows) {
        const auto& [half, tally] = entry;
        std::printf("| %s | %s | %d/%d (%.0f %%) | %d/%d |\n", condition.c_str(), half.c_str(),
                    tally.right, tally.commands, percent(tally.right, tally.commands),
                    tally.rejected, tally.unrelated);
        halves[half].add(tally);
        const double share = percent(tally.right, tally.commands);
        if (!worst.contains(half) || share < worst[half]) worst[half] = share;
      }
      for (const auto& [half, tally] : halves)
        std::printf(
            "%s %s: commands right %d/%d (%.1f %%, worst condition %.0f %%), unrelated "
            "rejected %d/%d (%.1f %%)\n",
            language.c_str(), half.c_str(), tally.right, tally.commands,
            percent(tally.right, tally.commands), worst[half], tally.rejected, tally.unrelated,
            percent(tally.rejected, tally.unrelated));
    }
    if (verbose && !misses.empty()) std::printf("misses:%s\n", misses.c_str());
    std::fflush(stdout);
  }
  return 0;
}
