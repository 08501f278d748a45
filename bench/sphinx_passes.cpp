// The decoder's second passes (flat-lexicon search, best path) on and off: word error rate
// through the file path, and the time from the end of a take's input to its last final result,
// on the recordings of pocketsphinx-testdata and sentences synthesized with flite.
//
// usage: bench_sphinx_passes [rounds]   (latency rounds per recording, default 3)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "WordErrors.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "speech/FileTranscription.hpp"
#include "speech/Recognizer.hpp"
#include "speech/Shaping.hpp"
#include "speech/SpeechInput.hpp"

using namespace earshot;
using Clock = std::chrono::steady_clock;

namespace {

struct Recording {
  std::string path;
  std::string reference;
};

std::vector<Recording> recordings(const std::string& scratch) {
  const std::string data = "/usr/share/pocketsphinx/test/data/librivox/";
  std::vector<Recording> out;
  std::ifstream transcription(data + "transcription");
  for (std::string line; std::getline(transcription, line);) {
    const auto open = line.rfind('(');
    std::string text = line.substr(0, open);
    for (const char* tag : {"<s>", "</s>"})
      for (auto at = text.find(tag); at != std::string::npos; at = text.find(tag))
        text.erase(at, std::string(tag).size());
    out.push_back({data + line.substr(open + 1, line.rfind(')') - open - 1) + ".wav", text});
  }
  const char* sentences[] = {"open the calendar and play some music",
                             "please call my sister tomorrow morning",
                             "the weather is nice today",
                             "turn off the lights in the kitchen",
                             "send a message to the team about the meeting",
                             "what time does the train leave for boston",
                             "remind me to buy milk on the way home",
                             "search the web for a good pasta recipe"};
  int k = 0;
  for (const char* sentence : sentences) {
    const std::string path = scratch + "/" + std::to_string(k++) + ".wav";
    const std::string command =
        "flite -voice slt -t '" + std::string(sentence) + "' -o " + path + " 2>/dev/null";
    if (std::system(command.c_str()) == 0) out.push_back({path, sentence});
  }
  return out;
}

// Seconds from the end of the input to the last final result, with the decoder caught up with
// the input as it is when a live take ends: the file's buffers through the capture callback.
double endToFinal(AudioToolkit& audio, SpeechService& speech, const std::string& path) {
  const auto transcriber = Recognizer::makeTranscriber("en_US");
  auto analyzer = speech.makeAnalyzer({transcriber}, {});
  auto shapers = std::make_shared<Shapers>(audio, *speech.bestAvailableAudioFormat({transcriber}));
  AnalyzerInputStream stream(Buffering::unbounded());
  auto tap = SpeechInput::tap(shapers, std::make_shared<LevelSink>([](float) {}), stream);
  std::thread reader([results = analyzer->results()]() mutable {
    while (results.pop()) {
    }
  });
  analyzer->start(stream);
  // A take ends 0.28 s after the user stops, often while the decoder still hears speech: the
  // file's last words, without the silence the file path adds after them.
  auto pieces = microphoneBuffers(audio, path, *microphoneLike(3));
  pieces.resize(pieces.size() - std::min<std::size_t>(pieces.size(), 7));  // 0.3 s at 48 kHz
  for (const auto& piece : pieces) tap(piece, 0);
  // A reader just woken still reads as waiting: caught up is waiting at several looks in a row.
  for (int quiet = 0; quiet < 4;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    quiet = stream.readerWaiting() ? quiet + 1 : 0;
  }
  const auto start = Clock::now();
  stream.finish();
  analyzer->finalizeAndFinishThroughEndOfInput();
  const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
  reader.join();
  return seconds;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char scratch[] = "/tmp/earshot-passes-XXXXXX";
  if (!::mkdtemp(scratch)) return 1;
  const auto all = recordings(scratch);
  linux_platform::LinuxAudioToolkit audio;

  {
    // A start that finds no decoder loads one: how long that blocks its caller.
    linux_platform::PocketSphinxService speech;
    const auto start = Clock::now();
    auto analyzer = speech.makeAnalyzer({Recognizer::makeTranscriber("en_US")}, {});
    AnalyzerInputStream nothing;
    nothing.finish();
    analyzer->start(nothing);
    std::printf("a start that must load the model: %.0f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    analyzer->finalizeAndFinishThroughEndOfInput();
  }

  std::size_t words = 0;
  for (const auto& r : all) words += bench::words(r.reference).size();
  std::printf("%zu recordings (%zu words), %d latency rounds each\n", all.size(), words, rounds);
  std::printf("%-8s %-8s %14s %14s %12s %12s %12s\n", "fwdflat", "bestpath", "WER recordings",
              "WER sentences", "WER all", "end-final md", "end-final max");
  for (const bool fwdflat : {true, false}) {
    for (const bool bestpath : {true, false}) {
      linux_platform::PocketSphinxService speech(EARSHOT_SPHINX_MODELDIR, {fwdflat, bestpath});
      std::size_t errors[2] = {0, 0}, counted[2] = {0, 0};
      std::vector<double> latencies;
      for (std::size_t i = 0; i < all.size(); ++i) {
        const bool synthesized = all[i].path.rfind(scratch, 0) == 0;
        const auto text = transcribeLikeMicrophone(audio, speech, all[i].path, Language::english);
        errors[synthesized] += bench::wordErrors(all[i].reference, text);
        counted[synthesized] += bench::words(all[i].reference).size();
        for (int k = 0; k < rounds; ++k)
          latencies.push_back(endToFinal(audio, speech, all[i].path));
      }
      auto rate = [](std::size_t e, std::size_t n) { return n ? 100.0 * e / n : 0.0; };
      std::printf("%-8s %-8s %13.1f%% %13.1f%% %11.1f%% %10.0f ms %10.0f ms\n",
                  fwdflat ? "on" : "off", bestpath ? "on" : "off", rate(errors[0], counted[0]),
                  rate(errors[1], counted[1]), rate(errors[0] + errors[1], counted[0] + counted[1]),
                  median(latencies) * 1000,
                  *std::max_element(latencies.begin(), latencies.end()) * 1000);
    }
  }
  std::system((std::string("rm -rf ") + scratch).c_str());
}
