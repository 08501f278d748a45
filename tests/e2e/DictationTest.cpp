// Dictation run as the real binary: its closing event, exit status and silent standard error when
// it cannot start, and when its input ends before any stop.
#include <gtest/gtest.h>

#include <fstream>

#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"

using namespace earshot::testing;

namespace {

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
  int closing = 0;
  for (const auto& event : events) {
    const auto name = event.value("event", "");
    closing += name == "final" || name == "cancelled" || name == "error";
  }
  EXPECT_EQ(closing, 1) << result.out;
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

}  // namespace
