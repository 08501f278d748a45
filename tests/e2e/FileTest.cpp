#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/linux/LinuxAudio.hpp"
#include "support/AudioFiles.hpp"
#include "support/LiveProcess.hpp"
#include "support/Process.hpp"

using earshot::testing::run;
using earshot::testing::RunResult;
using earshot::testing::TemporaryFolder;

namespace {

const std::string testData = "/usr/share/pocketsphinx/test/data";

RunResult transcribe(const std::string& path, const std::string& language = "en") {
  earshot::testing::RunOptions options;
  options.timeout = std::chrono::seconds(120);
  return run(EARSHOT_BINARY, {"--file", path, "--language", language}, options);
}

// The one event of a run, checked for its status and a silent standard error.
nlohmann::json answer(const RunResult& result, int status) {
  EXPECT_EQ(result.status, status) << result.out;
  EXPECT_EQ(result.err, "");
  auto events = result.events();
  EXPECT_EQ(events.size(), 1u) << result.out;
  return events.empty() ? nlohmann::json() : events[0];
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// Recognition is tolerant: most of the key words must be there.
void expectWords(const nlohmann::json& event, const std::vector<std::string>& keys,
                 std::size_t atLeast) {
  ASSERT_EQ(event.value("event", ""), "final") << event;
  const auto heard = words(event.value("text", ""));
  std::size_t found = 0;
  for (const auto& key : keys) found += std::count(heard.begin(), heard.end(), key) > 0;
  EXPECT_GE(found, atLeast) << event;
}

// Reads any audio file as interleaved float.
std::vector<float> readAll(const std::string& path, SF_INFO& info) {
  info = {};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_TRUE(file) << sf_strerror(nullptr);
  std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);
  return samples;
}

// `source` (mono) resampled to `rate` and spread over `channels`, written in `format`.
void variant(const std::string& source, const std::string& target, int rate, int channels,
             int format) {
  SF_INFO info;
  auto mono = readAll(source, info);
  earshot::linux_platform::LinuxAudioToolkit audio;
  auto from = *earshot::AudioFormat::make(info.samplerate, 1);
  auto to = *earshot::AudioFormat::make(rate, static_cast<std::uint32_t>(channels), true);
  auto converter = audio.makeConverter(from, to);
  auto input = earshot::PcmBuffer::make(from, static_cast<std::uint32_t>(mono.size()));
  std::copy(mono.begin(), mono.end(), input->floatChannelData()[0]);
  input->setFrameLength(static_cast<std::uint32_t>(mono.size()));
  auto output = earshot::PcmBuffer::make(
      to, static_cast<std::uint32_t>(mono.size() * double(rate) / info.samplerate + 4096));
  bool handed = false;
  std::string error;
  converter->convert(*output, error, [&](earshot::AudioConverter::InputStatus& status) {
    status = handed ? earshot::AudioConverter::InputStatus::endOfStream
                    : earshot::AudioConverter::InputStatus::haveData;
    const earshot::PcmBuffer* given = handed ? nullptr : input.get();
    handed = true;
    return given;
  });
  SF_INFO out{};
  out.samplerate = rate;
  out.channels = channels;
  out.format = format;
  SNDFILE* file = sf_open(target.c_str(), SFM_WRITE, &out);
  ASSERT_TRUE(file) << sf_strerror(nullptr);
  sf_writef_float(file, output->floatChannelData()[0], output->frameLength());
  sf_close(file);
}

std::string synthesize(const TemporaryFolder& dir, const std::string& text) {
  const std::string path = dir.file("spoken.wav");
  const std::string command = "flite -voice slt -t '" + text + "' -o " + path;
  EXPECT_EQ(std::system(command.c_str()), 0);
  return path;
}

}  // namespace

TEST(FileCommand, RecognizesRecordedSpeech) {
  expectWords(
      answer(transcribe(testData + "/librivox/sense_and_sensibility_01_austen_64kb-0880.wav"), 0),
      {"he", "was", "not", "young", "man"}, 4);
}

TEST(FileCommand, RecognizesSpeechAtOtherRatesChannelsAndContainers) {
  TemporaryFolder dir;
  const auto spoken = synthesize(dir, "open the calendar and play some music");
  const std::vector<std::string> keys{"calendar", "play", "some", "music"};
  variant(spoken, dir.file("a.wav"), 44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  variant(spoken, dir.file("b.flac"), 22050, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  variant(spoken, dir.file("c.wav"), 48000, 3, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  for (const char* name : {"a.wav", "b.flac", "c.wav"}) {
    SCOPED_TRACE(name);
    expectWords(answer(transcribe(dir.file(name)), 0), keys, 3);
  }
}

TEST(FileCommand, SilenceAndEmptyFilesGiveAnEmptyText) {
  TemporaryFolder dir;
  earshot::testing::writeWav(dir.file("silent.wav"), 16000, 1, std::vector<float>(32000, 0.0f));
  earshot::testing::writeWav(dir.file("empty.wav"), 48000, 2, {});
  for (const char* name : {"silent.wav", "empty.wav"}) {
    EXPECT_EQ(answer(transcribe(dir.file(name)), 0),
              (nlohmann::json{{"event", "final"}, {"text", ""}}));
  }
}

TEST(FileCommand, MissingOrNonAudioFilesFail) {
  TemporaryFolder dir;
  auto missing = answer(transcribe(dir.file("nothing-here.wav")), 1);
  EXPECT_EQ(missing.value("reason", ""), "failed");
  EXPECT_NE(missing.value("detail", "").find("No such file"), std::string::npos) << missing;

  std::ofstream(dir.file("notes.wav")) << "these are words, not sound\n";
  auto text = answer(transcribe(dir.file("notes.wav")), 1);
  EXPECT_EQ(text.value("reason", ""), "failed");
  EXPECT_NE(text.value("detail", "").find("Error Domain=sndfile"), std::string::npos) << text;
}

TEST(FileCommand, PortugueseWithoutItsModelIsAnUnsupportedLocale) {
  if (std::filesystem::exists(EARSHOT_SPHINX_MODELDIR "/pt-br"))
    GTEST_SKIP() << "pt-br model installed";
  TemporaryFolder dir;
  earshot::testing::writeWav(dir.file("a.wav"), 16000, 1, std::vector<float>(1600, 0.0f));
  for (const auto* language : {"pt", "xx"}) {  // anything but "en" means Portuguese
    EXPECT_EQ(answer(transcribe(dir.file("a.wav"), language), 1),
              (nlohmann::json{
                  {"event", "error"}, {"reason", "locale-unsupported"}, {"detail", "pt_BR"}}));
  }
}

TEST(FileCommand, ALibraryWarningNeverReachesStandardError) {
  // Looks like MPEG to libsndfile, whose decoder prints warnings of its own about it.
  std::string bytes("\xff\xfb\x90\x00", 4);
  bytes.append(60, '\0');
  for (int i = 0; i < 8; ++i) bytes.append("\xff\xff\x02\xf8", 4);
  TemporaryFolder dir;
  std::ofstream(dir.file("odd.mp3"), std::ios::binary) << bytes;
  auto result = transcribe(dir.file("odd.mp3"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.events().size(), 1u) << result.out;
}

TEST(FileCommand, StandardErrorIsNullWhileTheFileIsRead) {
  TemporaryFolder dir;
  const std::string hostFile = dir.file("host-errors");
  earshot::testing::LiveProcess earshot(
      EARSHOT_BINARY, {"--file", earshot::testing::speechRecording, "--language", "en"}, {},
      hostFile);
  const std::string fds = "/proc/" + std::to_string(earshot.pid()) + "/fd";
  // Once the file is open the process is well past start-up; its standard error must not be the
  // host's file from then on, to the end.
  auto reading = [&] {
    std::error_code error;
    for (std::filesystem::directory_iterator it(fds, error), end; !error && it != end;
         it.increment(error))
      if (std::filesystem::read_symlink(it->path(), error) == earshot::testing::speechRecording)
        return true;
    return false;
  };
  std::set<std::string> targets;
  bool seen = false;
  int status = -1;
  for (int i = 0; i < 6000 && status == -1; ++i) {
    seen = seen || reading();
    std::error_code error;
    const auto target = std::filesystem::read_symlink(fds + "/2", error);
    if (seen && !error) targets.insert(target.string());
    status = earshot.waitFor(std::chrono::milliseconds(1));  // one look, then 10 ms
  }
  EXPECT_TRUE(seen) << "the file was never seen open";
  EXPECT_EQ(targets, std::set<std::string>{"/dev/null"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(earshot.errors(), "");
}
