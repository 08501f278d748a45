// The PocketSphinx service on its own: results as the speech input relies on them.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "platform/PlatformError.hpp"
#include "platform/linux/LinuxAudio.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "speech/FileTranscription.hpp"
#include "speech/Recognizer.hpp"
#include "speech/TranscriptBox.hpp"
#include "support/AudioFiles.hpp"
#include "support/TemporaryFolder.hpp"

using namespace earshot;

namespace {

const std::string librivox =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-";

// A recording decoded at 16 kHz mono, as 1024-frame analyzer inputs.
std::vector<PcmBufferRef> inputs(const std::string& path, double silenceAfter = 0) {
  linux_platform::LinuxAudioToolkit audio;
  auto file = audio.openForReading(path);
  auto whole =
      PcmBuffer::make(file->processingFormat(), static_cast<std::uint32_t>(file->length()));
  file->read(*whole);
  std::vector<float> samples(whole->floatChannelData()[0],
                             whole->floatChannelData()[0] + whole->frameLength());
  samples.resize(samples.size() + static_cast<std::size_t>(silenceAfter * 16000), 0.0f);
  std::vector<PcmBufferRef> out;
  for (std::size_t start = 0; start < samples.size(); start += 1024) {
    const auto count =
        static_cast<std::uint32_t>(std::min<std::size_t>(1024, samples.size() - start));
    auto buffer = PcmBuffer::make(*AudioFormat::make(16000, 1), count);
    buffer->setFrameLength(count);
    std::copy(samples.begin() + start, samples.begin() + start + count,
              buffer->floatChannelData()[0]);
    out.push_back(buffer);
  }
  return out;
}

// Frames [from, from + count) of a 16 kHz recording between 0.5 s and 1 s of silence, cut as the
// capture path cuts 48 kHz buffers of 2048 frames (683 frames at 16 kHz).
AnalyzerInputStream clip(const std::string& path, std::size_t from, std::size_t count) {
  linux_platform::LinuxAudioToolkit audio;
  auto file = audio.openForReading(path);
  auto whole =
      PcmBuffer::make(file->processingFormat(), static_cast<std::uint32_t>(file->length()));
  file->read(*whole);
  const float* samples = whole->floatChannelData()[0];
  std::vector<float> signal(8000, 0.0f);
  signal.insert(signal.end(), samples + from, samples + from + count);
  signal.resize(signal.size() + 16000, 0.0f);
  AnalyzerInputStream stream;
  for (std::size_t start = 0; start < signal.size(); start += 683) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(683, signal.size() - start));
    auto buffer = PcmBuffer::make(*AudioFormat::make(16000, 1), n);
    buffer->setFrameLength(n);
    std::copy(signal.begin() + start, signal.begin() + start + n, buffer->floatChannelData()[0]);
    stream.yield({buffer});
  }
  stream.finish();
  return stream;
}

std::vector<SpeechResult> drain(AsyncStream<SpeechResult> results) {
  std::vector<SpeechResult> out;
  while (auto result = results.pop()) out.push_back(*result);
  return out;
}

class Sphinx : public ::testing::Test {
 protected:
  linux_platform::PocketSphinxService service;
  std::vector<SpeechTranscriber> modules{Recognizer::makeTranscriber("en_US")};
};

}  // namespace

TEST_F(Sphinx, EnglishIsSupportedAtSixteenKilohertzMono) {
  EXPECT_EQ(service.supportedLocale("en_US"), "en_US");
  EXPECT_EQ(service.bestAvailableAudioFormat(modules), AudioFormat::make(16000, 1));
  EXPECT_FALSE(service.supportedLocale("de_DE"));
  EXPECT_FALSE(service.assetInstallationRequest(modules));
  // A reservation loads the model in the background; the first analyzer takes that decoder.
  EXPECT_TRUE(service.reserve("en_US"));
  auto analyzer = service.makeAnalyzer(modules, {});
  AnalyzerInputStream nothing;
  nothing.finish();
  analyzer->start(nothing);
  analyzer->finalizeAndFinishThroughEndOfInput();
  EXPECT_TRUE(drain(analyzer->results()).empty());
  linux_platform::PocketSphinxService nowhere("/nonexistent");
  EXPECT_FALSE(nowhere.supportedLocale("pt_BR"));
  EXPECT_FALSE(nowhere.bestAvailableAudioFormat({Recognizer::makeTranscriber("pt_BR")}));
}

TEST_F(Sphinx, UtterancesGiveVolatileThenFinalResultsJoinedWithASpace) {
  auto analyzer = service.makeAnalyzer(modules, {});
  AnalyzerInputStream stream;
  for (const auto& b : inputs(librivox + "0880.wav", 1.0)) stream.yield({b});
  for (const auto& b : inputs(librivox + "0930.wav", 0.5)) stream.yield({b});
  stream.finish();
  auto results = analyzer->results();
  analyzer->start(stream);
  analyzer->finalizeAndFinishThroughEndOfInput();
  auto all = drain(results);

  std::vector<std::string> finals;
  std::size_t volatiles = 0;
  for (const auto& r : all) {
    if (r.isFinal) {
      finals.push_back(r.text);
    } else {
      ++volatiles;
      EXPECT_FALSE(r.text.empty());
    }
  }
  EXPECT_TRUE(all.back().isFinal);
  ASSERT_GE(finals.size(), 2u);
  EXPECT_GT(volatiles, finals.size());  // partial hypotheses come while speech goes on
  EXPECT_NE(finals[0][0], ' ');
  for (std::size_t k = 1; k < finals.size(); ++k) EXPECT_EQ(finals[k][0], ' ') << finals[k];
  TranscriptBox box;
  for (const auto& r : all) box.update(r.text, r.isFinal);
  EXPECT_NE(box.text().find("young man"), std::string::npos) << box.text();
  EXPECT_NE(box.text().find(" he might even"), std::string::npos) << box.text();
}

TEST_F(Sphinx, OverlappingAnalyzersEachFinishAndCancelStopsAtOnce) {
  auto first = service.makeAnalyzer(modules, {});
  auto second = service.makeAnalyzer(modules, {});
  AnalyzerInputStream a, b;
  auto firstResults = first->results();
  auto secondResults = second->results();
  first->start(a);
  second->start(b);
  EXPECT_ANY_THROW(second->start(b));  // an analyzer starts once
  for (const auto& buffer : inputs(librivox + "0880.wav", 0.5)) {
    a.yield({buffer});
    b.yield({buffer});
  }
  a.finish();
  first->finalizeAndFinishThroughEndOfInput();
  auto heard = drain(firstResults);
  ASSERT_FALSE(heard.empty());
  EXPECT_TRUE(heard.back().isFinal);

  // The second never gets the end of its input; cancelling ends its results anyway.
  ASSERT_TRUE(secondResults.pop());  // it is decoding
  second->cancelAndFinishNow();
  drain(secondResults);
  EXPECT_TRUE(secondResults.finished());

  // An analyzer stopped before it started refuses to start later.
  auto stopped = service.makeAnalyzer(modules, {});
  stopped->cancelAndFinishNow();
  AnalyzerInputStream open;
  EXPECT_ANY_THROW(stopped->start(open));
  EXPECT_TRUE(stopped->results().finished());

  // A decoder went back to the pool: a third analyzer works without loading again.
  auto third = service.makeAnalyzer(modules, {});
  AnalyzerInputStream c;
  c.finish();
  auto thirdResults = third->results();
  third->start(c);
  third->finalizeAndFinishThroughEndOfInput();
  EXPECT_TRUE(drain(thirdResults).empty());
}

TEST(RecognizerFragments, VolatileWordsTheDecoderTakesBackAreClosedByAnEmptyFinal) {
  // Short fragments on which a fresh decoder first hears a word, then keeps none of it.
  struct Fragment {
    const char* name;
    std::size_t from, count;
  };
  for (const auto& [name, from, count] :
       {Fragment{"0870.wav", 26400, 1600}, Fragment{"0930.wav", 32400, 2400}}) {
    SCOPED_TRACE(name);
    linux_platform::PocketSphinxService service;
    auto analyzer = service.makeAnalyzer({Recognizer::makeTranscriber("en_US")}, {});
    auto results = analyzer->results();
    analyzer->start(clip(librivox + name, from, count));
    analyzer->finalizeAndFinishThroughEndOfInput();
    auto all = drain(results);
    ASSERT_FALSE(all.empty());
    EXPECT_FALSE(all.front().isFinal);
    // The volatile text must not outlive its utterance in the transcript.
    ASSERT_TRUE(all.back().isFinal);
    TranscriptBox box;
    std::string finals;
    for (const auto& r : all) {
      box.update(r.text, r.isFinal);
      if (r.isFinal) finals += r.text;
    }
    EXPECT_EQ(box.text(), trimmed(finals));
  }
}

// A file longer than the analyzer's input holds, decoded in small pieces while the recognizer
// reads, gives the text of the same file decoded in one piece and queued whole.
TEST(FileTranscriptionText, ALongFileInPiecesReadsAsInOnePiece) {
  linux_platform::LinuxAudioToolkit audio;
  std::vector<float> all;
  for (const char* name : {"0870.wav", "0880.wav", "0890.wav", "0920.wav", "0930.wav"}) {
    for (const auto& buffer : inputs(librivox + name, 0.5)) {
      const float* samples = buffer->floatChannelData()[0];
      all.insert(all.end(), samples, samples + buffer->frameLength());
    }
  }
  earshot::testing::TemporaryFolder dir;
  earshot::testing::writeWav(dir.file("long.wav"), 16000, 1, all);
  // A fresh service each time: a decoder carries what it learnt of the voice to its next use.
  const auto transcribe = [&](std::uint32_t pieceFrames) {
    linux_platform::PocketSphinxService service;
    return transcribeLikeMicrophone(audio, service, dir.file("long.wav"), Language::english, 3,
                                    pieceFrames);
  };
  const auto whole = transcribe(static_cast<std::uint32_t>(all.size()));
  const auto pieces = transcribe(4096);
  EXPECT_EQ(pieces, whole);
  EXPECT_NE(whole.find("young man"), std::string::npos) << whole;
}

namespace {

// A 16 kHz recording cut as the capture path cuts 48 kHz buffers of 2048 frames.
std::vector<PcmBufferRef> takeOf(const std::string& path) {
  std::vector<PcmBufferRef> out;
  std::vector<float> signal;
  for (const auto& b : inputs(path, 0.5))
    signal.insert(signal.end(), b->floatChannelData()[0],
                  b->floatChannelData()[0] + b->frameLength());
  for (std::size_t start = 0; start < signal.size(); start += 683) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(683, signal.size() - start));
    auto buffer = PcmBuffer::make(*AudioFormat::make(16000, 1), n);
    buffer->setFrameLength(n);
    std::copy(signal.begin() + start, signal.begin() + start + n, buffer->floatChannelData()[0]);
    out.push_back(buffer);
  }
  return out;
}

// Three seconds of loud white noise, which drags a live cepstral mean far from speech.
std::vector<PcmBufferRef> noise() {
  std::vector<PcmBufferRef> out;
  std::uint32_t seed = 12345;
  for (int k = 0; k < 70; ++k) {
    auto buffer = PcmBuffer::make(*AudioFormat::make(16000, 1), 683);
    buffer->setFrameLength(683);
    for (std::uint32_t i = 0; i < 683; ++i) {
      seed = seed * 1664525u + 1013904223u;
      buffer->floatChannelData()[0][i] = 0.9f * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    out.push_back(buffer);
  }
  return out;
}

struct Heard {
  std::string text;
  bool isFinal;
  friend bool operator==(const Heard&, const Heard&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Heard& h) {
    return out << (h.isFinal ? "final '" : "volatile '") << h.text << "'";
  }
};

std::vector<Heard> take(SpeechService& service, const std::vector<PcmBufferRef>& buffers) {
  auto analyzer = service.makeAnalyzer({Recognizer::makeTranscriber("en_US")}, {});
  AnalyzerInputStream stream;
  for (const auto& b : buffers) stream.yield({b});
  stream.finish();
  auto results = analyzer->results();
  analyzer->start(stream);
  analyzer->finalizeAndFinishThroughEndOfInput();
  std::vector<Heard> out;
  for (const auto& r : drain(results)) out.push_back({r.text, r.isFinal});
  return out;
}

// Starts a take of `buffers` and cancels it once the decoder has heard something.
void cancelledTake(SpeechService& service, const std::vector<PcmBufferRef>& buffers) {
  auto analyzer = service.makeAnalyzer({Recognizer::makeTranscriber("en_US")}, {});
  AnalyzerInputStream stream;
  auto results = analyzer->results();
  analyzer->start(stream);
  for (const auto& b : buffers) stream.yield({b});  // never finished: the user cancels
  ASSERT_TRUE(results.pop());
  analyzer->cancelAndFinishNow();
}

}  // namespace

TEST(RecognizerReuse, ATakeStartedRightAfterACancelTakesTheCancelledDecoder) {
  const auto speech = takeOf(librivox + "0880.wav");
  struct Row {
    const char* name;
    bool heardFirst;  // cancelled while decoding speech, or right after its start
  };
  for (const auto& [name, heardFirst] : {Row{"while decoding", true}, Row{"at its start", false}}) {
    SCOPED_TRACE(name);
    linux_platform::PocketSphinxService service;
    service.reserve("en_US");
    if (heardFirst) {
      cancelledTake(service, speech);
    } else {
      auto analyzer = service.makeAnalyzer({Recognizer::makeTranscriber("en_US")}, {});
      AnalyzerInputStream stream;
      analyzer->start(stream);
      analyzer->cancelAndFinishNow();
    }
    auto heard = take(service, speech);
    ASSERT_FALSE(heard.empty());
    EXPECT_NE(heard.back().text.find("young man"), std::string::npos) << heard.back();
    EXPECT_EQ(service.decodersMade("en_US"), 1);
  }
}

TEST(RecognizerReuse, TheSameRecordingGivesTheSameResultsAfterAnyEarlierTake) {
  const auto speech = takeOf(librivox + "0880.wav");
  linux_platform::PocketSphinxService fresh;
  const auto expected = take(fresh, speech);
  ASSERT_FALSE(expected.empty());

  struct Row {
    const char* name;
    std::function<void(SpeechService&)> before;
  };
  const std::vector<Row> rows{
      {"loud noise", [](SpeechService& s) { take(s, noise()); }},
      {"another recording", [](SpeechService& s) { take(s, takeOf(librivox + "0920.wav")); }},
      {"the same recording", [&](SpeechService& s) { take(s, speech); }},
      {"a cancelled take",
       [](SpeechService& s) { cancelledTake(s, takeOf(librivox + "0920.wav")); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    linux_platform::PocketSphinxService service;
    row.before(service);
    EXPECT_EQ(take(service, speech), expected);
    EXPECT_EQ(service.decodersMade("en_US"), 1);  // the same decoder heard both
  }
}

// The start claims the decoder without waiting for the load (the caller is the main loop): the
// analysis fails once the load has.
TEST(RecognizerReuse, AnAnalysisThatCannotHaveADecoderFails) {
  // A Portuguese model whose language model holds nothing a decoder can load (the acoustic model
  // and dictionary are English, which would load).
  earshot::testing::TemporaryFolder models;
  const std::string folder = models.file("pt-br");
  const std::string english = "/usr/share/pocketsphinx/model/en-us";
  ASSERT_EQ(::system(("mkdir -p " + folder + " && ln -s " + english + "/en-us " + folder +
                      "/pt-br && ln -s " + english + "/cmudict-en-us.dict " + folder +
                      "/pt-br.dict && echo broken > " + folder + "/pt-br.lm.bin")
                         .c_str()),
            0);
  for (const bool reserved : {true, false}) {
    SCOPED_TRACE(reserved ? "reserved first" : "not reserved");
    linux_platform::PocketSphinxService service(models.path());
    ASSERT_TRUE(service.supportedLocale("pt_BR"));
    if (reserved) service.reserve("pt_BR");
    auto analyzer = service.makeAnalyzer({Recognizer::makeTranscriber("pt_BR")}, {});
    ASSERT_TRUE(analyzer);
    auto results = analyzer->results();
    AnalyzerInputStream stream;
    EXPECT_NO_THROW(analyzer->start(stream));
    EXPECT_THROW(analyzer->finalizeAndFinishThroughEndOfInput(), PlatformError);
    EXPECT_TRUE(results.finished());
    EXPECT_TRUE(analyzer->failure());
  }
}
