// Dictation run as the real binary: its closing event, exit status and silent standard error when
// it cannot start, when its input ends before any stop, and over a take that hears speech while
// the sound server changes under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/LiveProcess.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"

using namespace earshot::testing;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

bool closing(const json& event) {
  const auto name = event.value("event", "");
  return name == "final" || name == "cancelled" || name == "error";
}

struct ClosingCase {
  const char* name;
  bool server;     // a private daemon with one microphone, else none at all
  bool holdInput;  // standard input stays open a while, so that the start's own outcome closes
  std::vector<std::string> arguments;
  std::string event, reason, detail;
};

class DictationCloses : public ::testing::TestWithParam<ClosingCase> {};

TEST_P(DictationCloses, WithOneEventAndStatusZero) {
  const auto& row = GetParam();
  TemporaryFolder folder;
  std::optional<PulseServer> server;
  RunOptions options;
  options.timeout = std::chrono::seconds(40);
  if (row.server) {
    server.emplace();
    ASSERT_TRUE(server->running());
    options.environment = server->environment();
  } else {
    std::ofstream(folder.file("client.conf")) << "autospawn = no\n";
    options.environment = {{"PULSE_SERVER", "unix:" + folder.file("none")},
                           {"PULSE_CLIENTCONFIG", folder.file("client.conf")},
                           {"PULSE_COOKIE", folder.file("cookie")}};
  }
  auto arguments = row.arguments;
  arguments.insert(arguments.begin(), "--dictate");
  std::string program = EARSHOT_BINARY;
  if (row.holdInput) {
    arguments.insert(arguments.begin(), {"-c", "sleep 4 | exec \"$0\" \"$@\"", program});
    program = "/bin/sh";
  }
  const auto result = run(program, arguments, options);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.err, "");
  const auto events = result.events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(std::count_if(events.begin(), events.end(), closing), 1) << result.out;
  const auto& last = events.back();
  EXPECT_EQ(last.value("event", ""), row.event) << result.out;
  if (!row.reason.empty()) {
    EXPECT_EQ(last.value("reason", ""), row.reason) << last;
  }
  if (!row.detail.empty()) {
    EXPECT_EQ(last.value("detail", ""), row.detail) << last;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DictationCloses,
    ::testing::Values(
        ClosingCase{"NoServer", false, true, {"--language", "en"}, "error", "no-microphone", ""},
        ClosingCase{"NoPortugueseModel",
                    true,
                    true,
                    {"--language", "pt"},
                    "error",
                    "locale-unsupported",
                    "pt_BR"},
        ClosingCase{"InputClosed", true, false, {"--language", "en"}, "cancelled", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A take on a private daemon with two microphones: "mic" (the default source's sink) and
// "other", in another format.
class LiveDictation : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pulse_.running()); }

  // Starts the binary; true once the take is open.
  bool open() {
    process_.emplace(EARSHOT_BINARY, std::vector<std::string>{"--dictate", "--language", "en"},
                     pulse_.environment(), folder_.file("stderr"));
    const auto events = process_->until("open", 30s);
    return !events.empty() && std::none_of(events.begin(), events.end(), closing);
  }
  std::string sentence(const std::string& text, const std::string& name = "sentence") {
    const std::string path = folder_.file(name + ".wav");
    RunOptions options;
    options.timeout = 20s;
    EXPECT_EQ(run(programPath("flite"), {"-voice", "slt", "-t", text, "-o", path}, options).status,
              0);
    return path;
  }
  // "stop", then everything until the process ends: one closing event, status 0, nothing on
  // standard error. The events from the open take on.
  std::vector<json> stopped() {
    EXPECT_TRUE(process_->send("stop"));
    const auto events = process_->rest(30s);
    EXPECT_EQ(process_->waitFor(10s), 0) << json(events).dump();
    EXPECT_EQ(std::count_if(events.begin(), events.end(), closing), 1) << json(events).dump();
    EXPECT_EQ(process_->errors(), "");
    return events;
  }

  TemporaryFolder folder_;
  PulseServer pulse_{{{"mic", 44100, 2}, {"other", 48000, 1}}};
  std::optional<LiveProcess> process_;
};

std::vector<std::string> wordsOf(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

struct SentenceCase {
  const char* name;
  std::string text;
  // Once the take is open: none, the default source set to the other sink's monitor, or the
  // microphone's sink unloaded (the server then moves the stream itself).
  enum class Change { none, otherDefault, unplugged } change;
};

void PrintTo(const SentenceCase& row, std::ostream* out) {
  *out << row.name;
}

class SentenceHeard : public LiveDictation, public ::testing::WithParamInterface<SentenceCase> {};

// Speech played into the microphone in real time comes back as one "final" with its words, also
// when the default source changes mid-take and only the new one hears the sentence.
TEST_P(SentenceHeard, GivesOneFinalWithItsWords) {
  const auto& row = GetParam();
  const std::string file = sentence(row.text);
  ASSERT_TRUE(open());
  std::string sink = "mic";
  if (row.change != SentenceCase::Change::none) {
    sink = "other";
    if (row.change == SentenceCase::Change::otherDefault)
      ASSERT_TRUE(pulse_.setDefaultSource(PulseServer::monitorOf(sink)));
    else
      ASSERT_TRUE(pulse_.removeSink("mic"));
    // Past the settle step that follows the change.
    std::this_thread::sleep_for(800ms);
  }
  ASSERT_TRUE(pulse_.playThrough(file, sink));
  const auto events = stopped();
  ASSERT_FALSE(events.empty());
  const auto names = namesOf(events);
  EXPECT_NE(std::find(names.begin(), names.end(), "level"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "partial"), names.end()) << json(events).dump();
  const json& last = events.back();
  ASSERT_EQ(last.value("event", ""), "final") << json(events).dump();
  const auto heard = wordsOf(last.value("text", ""));
  ASSERT_FALSE(heard.empty()) << last;
  const auto said = wordsOf(row.text);
  EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [&](const std::string& word) {
    return std::find(said.begin(), said.end(), word) != said.end();
  })) << last;
}

INSTANTIATE_TEST_SUITE_P(
    Dictation, SentenceHeard,
    ::testing::Values(SentenceCase{"IntoTheMicrophone", "please call my sister tomorrow morning",
                                   SentenceCase::Change::none},
                      SentenceCase{"AfterTheDefaultSourceMoved", "play some music",
                                   SentenceCase::Change::otherDefault},
                      SentenceCase{"AfterTheMicrophoneWasUnplugged", "play some music",
                                   SentenceCase::Change::unplugged}),
    [](const auto& info) { return std::string(info.param.name); });

struct ServerCase {
  const char* name;
  bool restart;
  // Before the restart.
  std::chrono::milliseconds away;
};

void PrintTo(const ServerCase& row, std::ostream* out) {
  *out << row.name;
}

class ServerGone : public LiveDictation, public ::testing::WithParamInterface<ServerCase> {};

// A sound server that dies mid-take neither ends the dictation nor breaks it: "stop" still gives
// one closing event with what was heard before. A server that comes back, however late, gets the
// take back.
TEST_P(ServerGone, StopStillEndsTheTakeCleanly) {
  const auto& row = GetParam();
  const std::string before = sentence("play some music");
  const std::string after = sentence("please call my sister tomorrow morning", "after");
  ASSERT_TRUE(open());
  ASSERT_TRUE(pulse_.playThrough(before, "mic"));
  pulse_.kill();
  std::this_thread::sleep_for(row.away);
  if (row.restart) {
    // What was captured before the outage.
    while (!process_->next(300ms).is_null()) {
    }
    ASSERT_TRUE(pulse_.restart());
    // The take finds the server again by itself (a reconnection and a move, each tried again
    // about every three seconds at the most): its levels come back.
    const auto back = process_->until("level", 15s);
    ASSERT_FALSE(back.empty()) << "the take stayed deaf after the outage";
    ASSERT_TRUE(pulse_.playThrough(after, "mic"));
  }
  const auto events = stopped();
  ASSERT_FALSE(events.empty());
  const json& last = events.back();
  ASSERT_EQ(last.value("event", ""), "final") << json(events).dump();
  const std::string text = last.value("text", "");
  EXPECT_NE(text.find("music"), std::string::npos) << last;
  if (row.restart) {
    EXPECT_NE(text.find("sister"), std::string::npos) << last;
  }
}

INSTANTIATE_TEST_SUITE_P(Dictation, ServerGone,
                         ::testing::Values(ServerCase{"Killed", false, 1500ms},
                                           ServerCase{"RestartedAtOnce", true, 0ms},
                                           ServerCase{"RestartedLater", true, 1500ms},
                                           ServerCase{"RestartedAfterTwoSeconds", true, 2s},
                                           ServerCase{"RestartedAfterTenSeconds", true, 10s}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
