#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Process.hpp"

using earshot::testing::run;
using earshot::testing::RunResult;

namespace {

RunResult runEarshot(const std::vector<std::string>& arguments) {
  earshot::testing::RunOptions options;
  options.timeout = std::chrono::seconds(20);
  return run(EARSHOT_BINARY, arguments, options);
}

void expectUsage(const RunResult& result, const std::string& detail) {
  ASSERT_EQ(result.status, 2) << result.out;
  auto events = result.events();
  ASSERT_EQ(events.size(), 1u) << result.out;
  EXPECT_EQ(events[0],
            (nlohmann::json{{"event", "error"}, {"reason", "usage"}, {"detail", detail}}));
  EXPECT_EQ(result.err, "");
}

}  // namespace

TEST(Entry, AnOptionWithoutItsValueIsAUsageError) {
  expectUsage(runEarshot({"--find"}), "--find needs a value");
  expectUsage(runEarshot({"--open", "a", "--find"}), "--find needs a value");
  expectUsage(runEarshot({"--file", "x", "--key"}), "--key needs a value");
  expectUsage(runEarshot({"--keys", "--language"}), "--language needs a value");
  // Table order decides which one is reported.
  expectUsage(runEarshot({"--key", "--open"}), "--open needs a value");
}

TEST(Entry, UsageLineIsExactlyOneCompactLine) {
  auto result = runEarshot({"--open"});
  EXPECT_EQ(result.out.back(), '\n');
  EXPECT_EQ(result.lines().size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(result.lines()[0]).dump() + "\n", result.out);
}

TEST(Entry, ClosedOutputDoesNotKillTheProcess) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  close(pipeFds[0]);  // the host went away before we answer
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeFds[1], 1);
    execl(EARSHOT_BINARY, EARSHOT_BINARY, "--find", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 2);
}
