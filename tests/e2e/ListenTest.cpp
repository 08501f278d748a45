// The listening mode end to end: the real binary under a private Xvfb and a private PulseAudio
// daemon, the chord pressed with xdotool, speech played into the microphone in real time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/AppFixtures.hpp"
#include "support/Child.hpp"
#include "support/Exec.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"
#include "support/XServer.hpp"

using namespace earshot::testing;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string recording =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";

// The binary in listening mode: commands on its standard input, events read as they come,
// standard error kept in a file.
class Listener {
 public:
  Listener(const std::map<std::string, std::string>& environment, const std::string& errors,
           std::vector<std::string> arguments = {})
      : errors_(errors) {
    arguments.insert(arguments.begin(), {"--language", "en"});
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) std::abort();
    auto env = environmentWith(environment);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(file, 2);
      execute(EARSHOT_BINARY, arguments, env);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  ~Listener() {
    closeInput();
    if (pid_ > 0 && waitFor(5s) < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(output_);
  }

  void send(const std::string& line) {
    const std::string text = line + "\n";
    EXPECT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void closeInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }
  // The next event, or null at the end or after `limit`.
  json next(std::chrono::milliseconds limit = 15s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (auto newline = buffer_.find('\n'); newline != std::string::npos) {
        std::string line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        auto event = json::parse(line, nullptr, false);
        EXPECT_FALSE(event.is_discarded()) << line;
        return event;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      pollfd wait{output_, POLLIN, 0};
      if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) return {};
      char chunk[512];
      ssize_t n = read(output_, chunk, sizeof chunk);
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Events until one named `name` (returned last); empty when it never comes.
  std::vector<json> until(const std::string& name, std::chrono::milliseconds limit = 20s) {
    std::vector<json> seen;
    for (json event = next(limit); !event.is_null(); event = next(limit)) {
      seen.push_back(event);
      if (event.value("event", "") == name) return seen;
    }
    ADD_FAILURE() << "no \"" << name << "\" after " << json(seen).dump();
    return {};
  }
  // Its exit status; -1 when it is still running after `limit`.
  int waitFor(std::chrono::milliseconds limit) {
    for (auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms)) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return -1;
  }
  std::string errors() const {
    std::ifstream in(errors_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string errors_;
  pid_t pid_ = -1;
  int input_ = -1, output_ = -1;
  std::string buffer_;
};

class ListenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x_.running());
    ASSERT_TRUE(pulse_.running());
  }
  void TearDown() override {
    if (listener_) {
      listener_.reset();
      EXPECT_EQ(errorsOf(), "");
    }
  }

  Listener& start(std::vector<std::string> arguments = {},
                  const std::map<std::string, std::string>& more = {}) {
    auto environment = pulse_.environment();
    environment["DISPLAY"] = x_.display();
    environment.insert(more.begin(), more.end());
    listener_ = std::make_unique<Listener>(environment, folder_.file("stderr"), arguments);
    return *listener_;
  }
  std::string errorsOf() {
    std::ifstream in(folder_.file("stderr"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void xdotool(std::vector<std::string> arguments) {
    RunOptions options;
    options.environment["DISPLAY"] = x_.display();
    options.timeout = 10s;
    EXPECT_EQ(run(programPath("xdotool"), arguments, options).status, 0);
  }
  std::unique_ptr<Child> grab(const std::string& keysym, unsigned modifiers) {
    auto child = std::make_unique<Child>(
        EARSHOT_GRAB_CHORD, std::vector<std::string>{keysym, std::to_string(modifiers)},
        std::map<std::string, std::string>{{"DISPLAY", x_.display()}});
    EXPECT_EQ(child->readLine(), "grabbed");
    return child;
  }

  TemporaryFolder folder_;
  XServer x_;
  PulseServer pulse_;
  std::unique_ptr<Listener> listener_;
};

std::vector<std::string> namesOf(const std::vector<json>& events) {
  std::vector<std::string> names;
  for (const auto& event : events) names.push_back(event.value("event", ""));
  return names;
}

TEST_F(ListenTest, AHoldWithSpeechGivesItsEventsInOrderAndAHeldCloseToTheHold) {
  Listener& listener = start();
  const json ready = listener.next();
  EXPECT_EQ(ready.value("event", ""), "ready") << ready;
  EXPECT_EQ(ready.value("name", ""), "option-space") << ready;

  xdotool({"keydown", "alt+space"});
  const auto started = std::chrono::steady_clock::now();
  pulse_.play(recording, "mic");
  std::this_thread::sleep_for(4s);
  xdotool({"keyup", "alt+space"});
  const double held =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const auto events = listener.until("final", 30s);
  ASSERT_FALSE(events.empty());
  const auto names = namesOf(events);
  ASSERT_EQ(names.front(), "down") << json(events).dump();
  const json id = events.front()["id"];
  for (const auto& event : events) EXPECT_EQ(event["id"], id) << event;
  auto at = [&](const std::string& name) {
    return std::find(names.begin(), names.end(), name) - names.begin();
  };
  const auto count = static_cast<long>(names.size());
  EXPECT_LT(at("open"), count);
  EXPECT_LT(at("open"), at("up"));
  EXPECT_LT(at("level"), at("up"));
  EXPECT_LT(at("up"), at("final"));
  EXPECT_LT(at("partial"), count) << json(events).dump();
  const json final = events.back();
  EXPECT_FALSE(final.value("text", "").empty()) << final;
  EXPECT_NEAR(final.value("held", 0.0), held, 0.5) << final;
}

// An application installed while the listener runs can be said at the next hold.
TEST_F(ListenTest, WithAppNamesAHoldHearsAnApplicationInstalledMeanwhile) {
  const std::string data = folder_.path() + "/data";
  makeDesktopFile(data + "/applications/firefox.desktop",
                  {"Type=Application", "Name=Firefox", "Exec=true"});
  Listener& listener = start({"--app-names"}, {{"HOME", folder_.path() + "/home"},
                                               {"XDG_DATA_HOME", data},
                                               {"XDG_DATA_DIRS", folder_.path() + "/none"}});
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  makeDesktopFile(data + "/applications/code.desktop",
                  {"Type=Application", "Name=Visual Studio Code", "Exec=true"});
  // The first scan is older than the cache's age at the hold.
  std::this_thread::sleep_for(6s);
  const std::string said = folder_.file("said.wav");
  RunOptions synthesis;
  synthesis.timeout = 30s;
  ASSERT_EQ(run(programPath("flite"),
                {"-voice", "slt", "-t", "open visual studio code", "-o", said}, synthesis)
                .status,
            0);
  xdotool({"keydown", "alt+space"});
  pulse_.play(said, "mic");
  std::this_thread::sleep_for(3s);
  xdotool({"keyup", "alt+space"});
  const auto events = listener.until("final", 30s);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().value("text", ""), "visual studio code") << json(events).dump();
}

TEST_F(ListenTest, EscapeDuringAHoldCancelsIt) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  xdotool({"keydown", "alt+space"});
  ASSERT_EQ(listener.until("down").back().value("id", -1), 1);
  std::this_thread::sleep_for(500ms);
  xdotool({"key", "Escape"});
  xdotool({"keyup", "alt+space"});
  const auto events = listener.until("cancelled");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().value("id", -1), 1);
  for (const auto& name : namesOf(events)) EXPECT_NE(name, "final");
  // Nothing more for that hold.
  EXPECT_TRUE(listener.next(1s).is_null());
}

TEST_F(ListenTest, ALongHoldUnderKeyRepeatGivesOneDown) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  xdotool({"keydown", "alt+space"});
  std::this_thread::sleep_for(2s);
  xdotool({"keyup", "alt+space"});
  const auto events = listener.until("final");
  const auto names = namesOf(events);
  EXPECT_EQ(std::count(names.begin(), names.end(), "down"), 1) << json(events).dump();
  EXPECT_EQ(std::count(names.begin(), names.end(), "up"), 1) << json(events).dump();
}

struct CommandCase {
  const char* name;
  std::vector<std::string> lines;
  std::string readyName;  // of the answer
};

class Commands : public ListenTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(Commands, AnswerReady) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  for (const auto& line : GetParam().lines) listener.send(line);
  const json answer = listener.next();
  EXPECT_EQ(answer.value("event", ""), "ready") << answer;
  EXPECT_EQ(answer.value("name", ""), GetParam().readyName) << answer;
}

INSTANTIATE_TEST_SUITE_P(
    Listening, Commands,
    ::testing::Values(CommandCase{"Key", {"key control-shift-space"}, "control-shift-space"},
                      CommandCase{"Language", {"language en"}, "option-space"},
                      // An unknown word gets no answer; the next command still does.
                      CommandCase{
                          "AfterNoise",
                          {"hello", "key\tcontrol-option-space", "key control-option-space"},
                          "control-option-space"}),
    [](const auto& info) { return std::string(info.param.name); });

struct EndingCase {
  const char* name;
  bool quit;
};

class Ending : public ListenTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(Ending, EndsWithStatusZero) {
  Listener& listener = start();
  ASSERT_EQ(listener.next().value("event", ""), "ready");
  if (GetParam().quit)
    listener.send("quit");
  else
    listener.closeInput();
  EXPECT_EQ(listener.waitFor(10s), 0);
}

INSTANTIATE_TEST_SUITE_P(Listening, Ending,
                         ::testing::Values(EndingCase{"Quit", true},
                                           EndingCase{"EndOfInput", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListenTest, AChordHeldByAnotherClientMakesReadyNameTheNextRow) {
  constexpr unsigned mod1Mask = 1 << 3;
  auto other = grab("space", mod1Mask);
  Listener& listener = start();
  const json ready = listener.next();
  EXPECT_EQ(ready.value("event", ""), "ready") << ready;
  EXPECT_EQ(ready.value("name", ""), "control-option-space") << ready;
}

}  // namespace
