#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "cli/Emit.hpp"
#include "cli/Reason.hpp"
#include "platform/PlatformError.hpp"
#include "speech/Failure.hpp"
#include "support/EventCapture.hpp"

using namespace earshot;

TEST(EventLine, IsCompactWithTheNameUnderEvent) {
  EXPECT_EQ(eventLine("asking"), "{\"event\":\"asking\"}\n");
  EXPECT_EQ(eventLine("up", {{"id", 3}}), "{\"event\":\"up\",\"id\":3}\n");
  // The name wins over a payload entry called "event".
  EXPECT_EQ(eventLine("final", {{"event", "x"}}), "{\"event\":\"final\"}\n");
  EXPECT_EQ(eventLine("keys", {{"free", true}, {"level", 0.5}}),
            "{\"event\":\"keys\",\"free\":true,\"level\":0.5}\n");
}

TEST(EventLine, KeepsSlashesAndRawUtf8AndEscapesControls) {
  EXPECT_EQ(eventLine("app", {{"path", "/Applications/Notes.app"}}),
            "{\"event\":\"app\",\"path\":\"/Applications/Notes.app\"}\n");
  EXPECT_EQ(eventLine("final", {{"text", "ligação à câmera 日本"}}),
            "{\"event\":\"final\",\"text\":\"ligação à câmera 日本\"}\n");
  EXPECT_EQ(eventLine("final", {{"text", "a\"b\\c\nd\te\x01"}}),
            "{\"event\":\"final\",\"text\":\"a\\\"b\\\\c\\nd\\te\\u0001\"}\n");
}

TEST(EventLine, ReplacesInvalidUtf8InsteadOfDroppingTheLine) {
  // A Linux file name may hold any bytes; the answer must still reach the host.
  const std::string bad = std::string("Caf") + '\xE9' + ".desktop";
  EXPECT_EQ(eventLine("app", {{"name", bad}}),
            "{\"event\":\"app\",\"name\":\"Caf\xEF\xBF\xBD.desktop\"}\n");
  const std::string truncated = std::string("x") + '\xE2' + '\x82';
  const std::string line = eventLine("final", {{"text", truncated}});
  ASSERT_FALSE(line.empty());
  EXPECT_TRUE(nlohmann::json::accept(line));
}

TEST(EventLine, NonObjectPayloadIsDropped) {
  EXPECT_EQ(eventLine("x", Json::array({1, 2})), "");
  EXPECT_EQ(eventLine("x", Json("text")), "");
}

TEST(Emit, ConcurrentEmittersNeverMixLines) {
  earshot::testing::EventCapture captured;
  constexpr int threads = 6, perThread = 3000;
  const std::string filler(300, 'w');  // long lines make a torn write likely if unlocked
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, &filler] {
      for (int i = 0; i < perThread; ++i) emit("partial", {{"id", t}, {"n", i}, {"text", filler}});
    });
  }
  for (auto& w : workers) w.join();

  auto lines = captured.lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
  std::map<int, int> next;
  for (const auto& line : lines) {
    auto event = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(event.is_discarded()) << line.substr(0, 80);
    ASSERT_EQ(event["text"], filler);
    // Each thread's lines keep their order.
    int id = event["id"], n = event["n"];
    ASSERT_EQ(n, next[id]++);
  }
}

TEST(Answer, OnlyTheFirstGiverEmitsAndExits) {
  earshot::testing::EventCapture captured;
  std::vector<int> statuses;
  std::mutex lock;
  Answer answer([&](int status) {
    std::lock_guard guard(lock);
    statuses.push_back(status);
  });
  std::thread timer([&] {
    answer.give("error", {{"reason", "failed"}, {"detail", "timed out"}}, 1);
  });
  answer.give("final", {{"text", ""}}, 0);
  timer.join();
  ASSERT_EQ(statuses.size(), 1u);
  auto lines = captured.lines();
  ASSERT_EQ(lines.size(), 1u);
  auto event = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(event["event"] == "final" ? 0 : 1, statuses[0]);
}

TEST(Reason, MapsEachErrorToItsPayload) {
  auto of = [](auto error) { return reason(std::make_exception_ptr(error)); };
  EXPECT_EQ(of(SpeechFailure::localeUnsupported("pt_BR")),
            (Json{{"reason", "locale-unsupported"}, {"detail", "pt_BR"}}));
  EXPECT_EQ(of(SpeechFailure::microphoneDenied()), (Json{{"reason", "microphone-denied"}}));
  EXPECT_EQ(of(SpeechFailure::noMicrophone()), (Json{{"reason", "no-microphone"}}));
  EXPECT_EQ(of(SpeechFailure::notRunning()),
            (Json{{"reason", "failed"}, {"detail", "notRunning"}}));
  EXPECT_EQ(of(SpeechFailure::superseded()),
            (Json{{"reason", "failed"}, {"detail", "superseded"}}));
  EXPECT_EQ(of(SpeechFailure::letGo()), (Json{{"reason", "failed"}, {"detail", "letGo"}}));
  EXPECT_EQ(of(PlatformError("sndfile", 2, "Format not recognised")),
            (Json{{"reason", "failed"},
                  {"detail", "Error Domain=sndfile Code=2 \"Format not recognised\""}}));
}
