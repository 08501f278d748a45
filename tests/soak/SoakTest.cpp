// Many holds of the real listener under a private Xvfb and a private PulseAudio daemon, with random
// timing: every hold must close exactly once, ids must grow by one, and memory must stay flat.
// EARSHOT_SOAK_HOLDS sets the number of holds, EARSHOT_SOAK_SEED the timing (printed on failure).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "support/AudioFiles.hpp"
#include "support/LiveProcess.hpp"
#include "support/Process.hpp"
#include "support/PulseServer.hpp"
#include "support/TemporaryFolder.hpp"
#include "support/XServer.hpp"

using namespace earshot::testing;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string& recording = speechRecording;

// The rows the "key" command switches between, as xdotool presses them.
const std::map<std::string, std::string> chords = {
    {"option-space", "alt+space"},
    {"control-option-space", "ctrl+alt+space"},
    {"control-shift-space", "ctrl+shift+space"},
};

unsigned long fromEnvironment(const char* name, unsigned long otherwise) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoul(text, nullptr, 10) : otherwise;
}

// Every event the listener sent, checked as it comes.
class Ledger {
 public:
  void see(const json& event) {
    recent_.push_back(event);
    if (recent_.size() > 40) recent_.pop_front();
    const std::string name = event.value("event", "");
    if (name == "ready") {
      ++readies_;
      key_ = event.value("name", "");
      return;
    }
    if (!event.contains("id")) {
      fault("an event of no hold");
      return;
    }
    const std::int64_t id = event["id"].get<std::int64_t>();
    if (name == "down") {
      if (id != lastDown_ + 1) fault("a down out of turn");
      lastDown_ = id;
      open_.insert(id);
      return;
    }
    if (!open_.count(id)) fault("an event of a hold that is not open");
    if (name == "open") opened_.insert(id);
    if (name == "final" || name == "cancelled" || name == "error") {
      open_.erase(id);
      ++closings_[name];
      if (!opened_.erase(id)) ++unopened_;
    }
  }

  bool isOpen(std::int64_t id) const { return open_.count(id) > 0; }
  bool anyOpen() const { return !open_.empty(); }
  std::int64_t lastDown() const { return lastDown_; }
  int readies() const { return readies_; }
  const std::string& key() const { return key_; }
  int unopened() const { return unopened_; }
  int closings(const std::string& name) const {
    auto found = closings_.find(name);
    return found == closings_.end() ? 0 : found->second;
  }
  std::string recent() const {
    return json(std::vector<json>(recent_.begin(), recent_.end())).dump();
  }

 private:
  void fault(const std::string& what) { ADD_FAILURE() << what << ", in " << recent(); }

  std::deque<json> recent_;
  std::set<std::int64_t> open_, opened_;
  int unopened_ = 0;  // holds that closed before their take opened
  std::map<std::string, int> closings_;
  std::int64_t lastDown_ = 0;
  int readies_ = 0;
  std::string key_;
};

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x_.running());
    ASSERT_TRUE(pulse_.running());
  }

  void xdotool(const std::vector<std::string>& arguments) {
    RunOptions options;
    options.environment["DISPLAY"] = x_.display();
    options.timeout = 10s;
    EXPECT_EQ(run(programPath("xdotool"), arguments, options).status, 0);
  }

  // Reads events into the ledger until `done` or `limit`; false on the limit.
  template <typename Done>
  bool pumpUntil(LiveProcess& listener, Ledger& ledger, Done done,
                 std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      json event = listener.next(left);
      if (event.is_null()) return done();
      ledger.see(event);
    }
    return true;
  }
  // What has arrived so far, without waiting.
  void pump(LiveProcess& listener, Ledger& ledger) {
    for (json event = listener.next(0ms); !event.is_null(); event = listener.next(0ms))
      ledger.see(event);
  }

  TemporaryFolder folder_;
  XServer x_;
  PulseServer pulse_;
};

TEST_F(Soak, EveryHoldClosesOnceIdsGrowByOneAndMemoryStaysFlat) {
  const unsigned long holds = fromEnvironment("EARSHOT_SOAK_HOLDS", 40);
  const unsigned long seed = fromEnvironment("EARSHOT_SOAK_SEED", std::random_device{}());
  SCOPED_TRACE("EARSHOT_SOAK_SEED=" + std::to_string(seed));
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
  auto chance = [&](double p) { return std::uniform_real_distribution<>(0, 1)(random) < p; };
  auto seconds = [&](double low, double high) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", std::uniform_real_distribution<>(low, high)(random));
    return std::string(text);
  };

  auto environment = pulse_.environment();
  environment["DISPLAY"] = x_.display();
  LiveProcess listener(EARSHOT_BINARY, {"--language", "en"}, environment, folder_.file("stderr"));
  Ledger ledger;
  ASSERT_TRUE(pumpUntil(
      listener, ledger, [&] { return ledger.readies() == 1; }, 20s));
  ASSERT_EQ(ledger.key(), "option-space");

  // Early enough to be a baseline, late enough that the recognizer and the capture path are set up.
  const unsigned long sampleAt =
      std::min<unsigned long>(holds, std::max<unsigned long>(10, holds / 10));
  long early = 0;
  std::string trace;  // MB at every tenth of the run
  const auto started = std::chrono::steady_clock::now();
  for (unsigned long hold = 1; hold <= holds && !HasFailure(); ++hold) {
    pump(listener, ledger);
    const std::string chord = chords.at(ledger.key());
    const double kind = std::uniform_real_distribution<>(0, 1)(random);
    if (kind < 0.25)  // let go before the take can open
      xdotool({"keydown", chord, "keyup", chord});
    else if (kind < 0.45)
      xdotool({"keydown", chord, "sleep", seconds(0.02, 0.6), "key", "Escape", "keyup", chord});
    else
      xdotool({"keydown", chord, "sleep", seconds(0.02, 0.9), "keyup", chord});
    const auto id = static_cast<std::int64_t>(hold);
    ASSERT_TRUE(pumpUntil(
        listener, ledger, [&] { return ledger.lastDown() >= id; }, 10s))
        << "no down for hold " << hold << " in " << ledger.recent();
    // Mostly the next hold waits for this one's end; now and then it starts during the tail.
    if (chance(0.7)) {
      ASSERT_TRUE(pumpUntil(
          listener, ledger, [&] { return !ledger.isOpen(id); }, 20s))
          << "hold " << hold << " never closed: " << ledger.recent();
    }
    if (chance(0.08)) {
      std::vector<std::string> others;
      for (const auto& [name, keys] : chords)
        if (name != ledger.key()) others.push_back(name);
      const std::string next = others[random() % others.size()];
      listener.send("key " + next);
      ASSERT_TRUE(pumpUntil(
          listener, ledger, [&] { return ledger.key() == next; }, 10s))
          << "no ready for key " << next << " in " << ledger.recent();
    }
    if (chance(0.08)) {
      const int readies = ledger.readies();
      listener.send("language en");
      ASSERT_TRUE(pumpUntil(
          listener, ledger, [&] { return ledger.readies() > readies; }, 10s))
          << "no ready for the language in " << ledger.recent();
    }
    if (chance(0.06)) {
      pulse_.stopPlaying();
      pulse_.play(recording, "mic");
    }
    if (hold % std::max<unsigned long>(1, holds / 10) == 0)
      trace += ' ' + std::to_string(residentKilobytes(listener.pid()) / 1024);
    if (hold == sampleAt) {
      ASSERT_TRUE(pumpUntil(
          listener, ledger, [&] { return !ledger.anyOpen(); }, 20s));
      early = residentKilobytes(listener.pid());
    }
  }
  pulse_.stopPlaying();
  ASSERT_TRUE(pumpUntil(
      listener, ledger, [&] { return !ledger.anyOpen(); }, 30s))
      << "holds left open: " << ledger.recent();
  const double taken =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const long last = residentKilobytes(listener.pid());
  EXPECT_EQ(ledger.lastDown(), static_cast<std::int64_t>(holds));

  std::printf(
      "soak: %lu holds in %.1f s (final %d, cancelled %d, error %d; %d closed before their take "
      "opened), seed %lu\n",
      holds, taken, ledger.closings("final"), ledger.closings("cancelled"),
      ledger.closings("error"), ledger.unopened(), seed);
  std::printf("soak: resident memory %.1f MB after %lu holds, %.1f MB after %lu holds\n",
              early / 1024.0, sampleAt, last / 1024.0, holds);
  std::printf("soak: resident memory at each tenth (MB):%s\n", trace.c_str());
  ASSERT_GT(early, 0);
  // Flat: room for what the first holds have not settled yet (allocator slack, a decoder more once
  // takes overlap), never for a share of every hold.
  EXPECT_LE(last, early + std::max(10L * 1024, early / 10))
      << "resident memory grew from " << early << " kB to " << last << " kB";

  pump(listener, ledger);
  listener.closeInput();
  EXPECT_EQ(listener.waitFor(10s), 0);
  EXPECT_FALSE(ledger.anyOpen());
  EXPECT_EQ(listener.errors(), "");
}

}  // namespace
