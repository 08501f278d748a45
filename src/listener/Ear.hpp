#pragma once

// The listening mode's controller: a system-wide push-to-talk key whose every hold is one take.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "async/MainLoop.hpp"
#include "core/EventSink.hpp"
#include "hotkeys/VoiceHotKey.hpp"
#include "speech/SpeechInput.hpp"

namespace earshot {

struct Platform;

class Ear : public std::enable_shared_from_this<Ear> {
 public:
  static constexpr double watchdogInterval = 0.15;
  // A hold older than this is cancelled, whatever the key says.
  static constexpr double longestHold = 120.0;
  // Ticks in a row that must read the key as up before a lost release is assumed.
  static constexpr int keyUpTicks = 2;
  // Speech trails the release a little; the take goes on this long after it.
  static constexpr double tail = 0.28;

  // `key` names the row of voiceKeys the host wants, or anything else ("auto").
  Ear(Platform& platform, std::string key, EventSink events);

  // Wires the callbacks, takes the key, warms the microphone up and prepares the recognizer.
  void start();
  // The "key" command: switch to another named key.
  void use(const std::string& key);
  // The "language" command, after `spoken` has changed.
  void languageChanged();
  // The host's own holds ("press", "release", "cancel"): the same as the chord's press, its
  // release and Escape, whatever the back end, and also without a key. The key state of a hold
  // the host started is never trusted.
  void hostPress();
  void hostRelease() { up(); }
  void hostCancel() { cancel(); }

  // Between retakes of a key the desktop lost, doubling up to the longest.
  static constexpr double firstRetake = 1.0;
  static constexpr double longestRetake = 30.0;

  SpeechInput& speech() { return *speech_; }
  // Every Escape chord of the pool, registered or not.
  std::size_t escapePool() const { return escapes_.size(); }

 private:
  struct Held {
    std::int64_t id;
    TimePoint since;
    SpeechInput::TakeRef take;
    bool keyStateTrusted;
    int keyUpSeen = 0;
  };

  // Quietly: no event when no key can be had (a retake after a loss). The key is taken when the
  // platform answers, which for a desktop may be seconds later; until then no key is registered.
  void takeKey(bool quietly = false) { takeKey(quietly, quietly); }
  // `retakes`: a failure schedules another try.
  void takeKey(bool quietly, bool retakes);
  // Tries the rows from the k-th on.
  void tryRow(std::shared_ptr<std::vector<NamedKey>> rows, std::size_t k);
  // The bind's answer: the row taken, or the status that ended the search (zero: all taken).
  void keyTaken(std::optional<NamedKey> row, HotKeyService::StatusCode refusal);
  void announce();
  void keyLost(const std::string& detail);
  void triggerChanged();
  void dropKey(const std::string& detail);
  void retakeLater();
  void down();
  void begin(bool trusted);
  void up();
  void cancel();
  void checkHeld();
  void watchEscape(const VoiceKeyCombo& combo);
  void startWatchdog();
  void stopWatchdog();
  // After a hold cancelled with its key still down: lets the key go once it reads up.
  void awaitLetGo();
  void endHold();
  Co<void> openTake(std::int64_t id, Language language);
  Co<void> finishAfter(double delay, std::int64_t id, SpeechInput::TakeRef take, double heldFor);
  Co<void> finish(std::int64_t id, SpeechInput::TakeRef take, double heldFor);
  double secondsSince(TimePoint since) const;
  // Kept out of the coroutines (a gcc 12 fault with temporaries beside a co_await).
  std::function<bool()> stillHeld(std::int64_t id);
  std::optional<double> takeLetGo(std::int64_t id);
  void refused(std::int64_t id, std::exception_ptr failure);
  void finished(std::int64_t id, const SpeechInput::Take& take, const std::string& text,
                double heldFor);

  Platform& platform_;
  EventSink events_;
  std::shared_ptr<SpeechInput> speech_;
  std::shared_ptr<VoiceHotKey> key_;
  std::vector<std::shared_ptr<VoiceHotKey>> escapes_;
  std::string wanted_;
  std::optional<NamedKey> registered_;
  std::int64_t nextID_ = 0;
  std::optional<Held> held_;
  std::map<std::int64_t, double> letGo_;
  std::set<std::int64_t> cancelled_;
  // Holds whose "final", "cancelled" or "error" has not been sent yet.
  std::set<std::int64_t> open_;
  std::optional<Timer> watchdog_;
  std::optional<Timer> retake_;
  double retakeDelay_ = firstRetake;
  // A bind under way, whether its failure goes untold, whether it is a retake (which goes on
  // after a failure), and whether another must follow it.
  bool binding_ = false;
  bool bindQuietly_ = false;
  bool bindRetakes_ = false;
  bool again_ = false;
};

// The Escape chords for a push-to-talk chord: every subset of its modifiers, largest first,
// plain Escape last, never option + command.
std::vector<std::uint32_t> escapeModifiers(std::uint32_t modifiers);

// Seconds rounded to hundredths, halves away from zero.
double hundredths(double seconds);

}  // namespace earshot
