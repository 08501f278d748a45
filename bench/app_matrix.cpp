// Spoken application commands over a matrix of voices and rooms, through the file path that
// `earshot --file x --app-names` takes (48 kHz stereo, shaped like the microphone), then the
// lookup `earshot --find` makes, all in one process so that a grid of grammar settings can be
// tried. The catalog is the machine's (HOME and XDG folders set by bench/app_matrix.sh).
//
// Usage: bench_app_matrix <manifest> [garbage,filler,dither,silence,noise,second,en,pt,first,warps,
// pt garbage,pt warps,pt filler,first dither ...] (see parseSetting)
// Manifest lines, tab-separated: wav, en|pt, condition, tuning|held, desktop-file ID ("" for an
// unrelated sentence), what is said. Without settings, the analyzers' own costs are measured.
// Every name heard is also scored against the phone loop, so that one run prints, per language
// and half, the whole curve of verification thresholds. SCORES=1 prints a line per file for
// bench/verification_sweep.py: "score", garbage cost, language, condition, half, ID, what is said,
// the name heard before verification ("" none), whether it resolves to the file's application
// ("right"), another ("other") or none, pass (1, 2, 3: a warped pass), the per-frame margin (nan:
// no name), then grammar score and frames, loop score and frames, and the same over speech frames
// only.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "catalog/AppCatalog.hpp"
#include "catalog/AppNames.hpp"
#include "core/Language.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/LinuxWorkspace.hpp"
#include "platform/linux/PhoneLoopCheck.hpp"
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

std::vector<double> parseWarps(const std::string& field) {
  std::vector<double> warps;
  std::istringstream factors(field);
  for (std::string factor; std::getline(factors, factor, ':');)
    if (factor != "-" && !factor.empty()) warps.push_back(std::stod(factor));
  return warps;
}

// Fields: garbage, filler, dither, silence, noise, second pass, English threshold, Portuguese
// threshold, first (1: check names of the first pass too), warps (factors separated by ':', "-"
// for none); garbage, filler and warps set both languages, and Portuguese ones of their own may
// follow: pt garbage, pt warps, pt filler; then the first pass's dither. Fields left out keep the
// costs in force.
linux_platform::GrammarCosts parseSetting(const std::string& text) {
  auto costs = linux_platform::grammarCosts();
  std::vector<std::string> fields;
  std::istringstream row(text);
  for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
  auto number = [&](std::size_t i, double& into) {
    if (i < fields.size() && !fields[i].empty()) into = std::stod(fields[i]);
  };
  auto& en = costs.english;
  auto& pt = costs.portuguese;
  number(0, en.garbagePhone);
  number(0, pt.garbagePhone);
  number(1, en.filler);
  number(1, pt.filler);
  number(2, costs.dither);
  number(3, costs.silence);
  number(4, costs.noise);
  double second = static_cast<double>(costs.secondPass);
  number(5, second);
  costs.secondPass = static_cast<linux_platform::GrammarCosts::SecondPass>(second);
  number(6, en.verification);
  number(7, pt.verification);
  double first = costs.verifyFirstPass ? 1 : 0;
  number(8, first);
  costs.verifyFirstPass = first != 0;
  if (fields.size() > 9 && !fields[9].empty()) en.warps = pt.warps = parseWarps(fields[9]);
  number(10, pt.garbagePhone);
  if (fields.size() > 11 && !fields[11].empty()) pt.warps = parseWarps(fields[11]);
  number(12, pt.filler);
  number(13, costs.firstPassDither);
  return costs;
}

std::string describe(const linux_platform::LanguageCosts& costs) {
  std::string warps;
  for (double factor : costs.warps) warps += (warps.empty() ? "" : ":") + std::to_string(factor);
  char text[200];
  std::snprintf(text, sizeof text, "garbage %g, filler %g, verification %g, warps %s",
                costs.garbagePhone, costs.filler, costs.verification,
                warps.empty() ? "none" : warps.c_str());
  return text;
}

// One file's outcome for the threshold sweep: the name heard before verification, if any.
struct Scored {
  const Line* line;
  std::optional<double> margin;  // none: no name was heard, at any threshold
  bool rightName = false;        // the name resolves to the file's application
  bool anyApp = false;           // the name resolves to some application
  bool checked = true;           // the check applies to the pass that heard it
};

// For each threshold, commands right and unrelated rejected per language and half.
void printSweep(const std::vector<Scored>& scored) {
  // Names the first pass hears stand unchecked unless the costs check them too.
  std::set<double> thresholds{-std::numeric_limits<double>::infinity()};
  for (double t = -6.0; t <= 0.5001; t += 0.1) thresholds.insert(std::round(t * 10) / 10);
  std::set<std::pair<std::string, std::string>> groups;
  for (const auto& s : scored) groups.insert({s.line->language, s.line->half});
  for (const auto& [language, half] : groups) {
    std::printf("sweep %s %s: threshold | commands right | unrelated rejected\n", language.c_str(),
                half.c_str());
    for (double threshold : thresholds) {
      Tally tally;
      for (const auto& s : scored) {
        if (s.line->language != language || s.line->half != half) continue;
        const bool stands = s.margin && (!s.checked || *s.margin >= threshold);
        if (!s.line->id.empty()) {
          ++tally.commands;
          if (stands && s.rightName) ++tally.right;
        } else {
          ++tally.unrelated;
          if (!(stands && s.anyApp)) ++tally.rejected;
        }
      }
      std::printf("  %5.1f | %d/%d (%.1f %%) | %d/%d (%.1f %%)\n", threshold, tally.right,
                  tally.commands, percent(tally.right, tally.commands), tally.rejected,
                  tally.unrelated, percent(tally.rejected, tally.unrelated));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_app_matrix <manifest> [garbage,filler,dither ...]\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // scores as they come, into a file too
  const auto lines = readManifest(argv[1]);
  std::vector<linux_platform::GrammarCosts> settings;
  for (int i = 2; i < argc; ++i) settings.push_back(parseSetting(argv[i]));
  if (settings.empty()) settings.push_back(linux_platform::grammarCosts());
  const bool verbose = std::getenv("VERBOSE") != nullptr;
  const bool printScores = std::getenv("SCORES") != nullptr;
  std::mutex heardLock;
  std::optional<linux_platform::CommandScores> heard;
  linux_platform::observeCommandScores([&](const linux_platform::CommandScores& scores) {
    std::lock_guard guard(heardLock);
    heard = scores;
  });

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
    std::vector<Scored> scored;
    double loopMilliseconds = 0;
    int loops = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& line : lines) {
      std::string text;
      {
        std::lock_guard guard(heardLock);
        heard.reset();
      }
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
      std::optional<linux_platform::CommandScores> scores;
      {
        std::lock_guard guard(heardLock);
        scores = heard;
      }
      Scored entry{&line, std::nullopt, false, false};
      if (scores) {
        entry.margin = linux_platform::perFrameMargin(*scores);
        if (!entry.margin) entry.margin = -std::numeric_limits<double>::infinity();
        const auto named = catalog.app(scores->words);
        entry.anyApp = named.has_value();
        entry.rightName = named && idOf(*named) == line.id;
        entry.checked = scores->secondPass || costs.verifyFirstPass;
        loopMilliseconds += scores->loopMilliseconds;
        ++loops;
      }
      if (printScores) {
        const linux_platform::CommandScores none;
        const auto& s = scores ? *scores : none;
        std::printf(
            "score\t%g\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%d\t%.4f\t%.2f\t%d\t%.2f\t%d\t%.2f\t%d\t%.2f\t%"
            "d\n",
            costs
                .of(line.language == "pt" ? linux_platform::RecognizerLanguage::brazilianPortuguese
                                          : linux_platform::RecognizerLanguage::english)
                .garbagePhone,
            line.language.c_str(), line.condition.c_str(), line.half.c_str(), line.id.c_str(),
            line.said.c_str(), s.words.c_str(),
            entry.rightName ? "right"
            : entry.anyApp  ? "other"
                            : "none",
            s.warped       ? 3
            : s.secondPass ? 2
                           : 1,
            entry.margin.value_or(std::nan("")), s.grammar, s.grammarFrames, s.loop, s.loopFrames,
            s.grammarSpeech, s.grammarSpeechFrames, s.loopSpeech, s.loopSpeechFrames);
      }
      scored.push_back(entry);
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
        "== dither %g (first pass %g), silence %g, noise %g, second pass %d; en: %s; pt: %s (%zu "
        "files, "
        "%.0f ms each; phone loop %.1f ms per name heard)\n",
        costs.dither, costs.firstPassDither, costs.silence, costs.noise,
        static_cast<int>(costs.secondPass), describe(costs.english).c_str(),
        describe(costs.portuguese).c_str(), lines.size(),
        lines.empty() ? 0.0 : 1000 * seconds / static_cast<double>(lines.size()),
        loops == 0 ? 0.0 : loopMilliseconds / loops);
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
    printSweep(scored);
    std::fflush(stdout);
  }
  return 0;
}
