#include "listener/Ear.hpp"

#include <algorithm>
#include <cmath>

#include "core/Language.hpp"
#include "platform/Platform.hpp"
#include "speech/Take.hpp"

namespace earshot {

namespace {

// The system's shortcut for something else; never taken as an Escape chord.
constexpr std::uint32_t reservedEscape = VoiceKeyCombo::option | VoiceKeyCombo::command;

}  // namespace

std::vector<std::uint32_t> escapeModifiers(std::uint32_t modifiers) {
  std::vector<std::uint32_t> mods;
  for (std::uint32_t m : {VoiceKeyCombo::control, VoiceKeyCombo::option, VoiceKeyCombo::shift,
                          VoiceKeyCombo::command})
    if (modifiers & m) mods.push_back(m);
  std::vector<std::uint32_t> sets;
  for (std::uint32_t j = (1u << mods.size()); j-- > 0;) {
    std::uint32_t set = 0;
    for (std::size_t k = 0; k < mods.size(); ++k)
      if (j & (1u << k)) set |= mods[k];
    if (set != reservedEscape) sets.push_back(set);
  }
  return sets;
}

double hundredths(double seconds) {
  return std::round(seconds * 100.0) / 100.0;
}

Ear::Ear(Platform& platform, std::string key, EventSink events)
    : platform_(platform),
      events_(std::move(events)),
      speech_(std::make_shared<SpeechInput>(platform)),
      key_(VoiceHotKey::make(platform.hotKeys)),
      wanted_(std::move(key)) {}

void Ear::down() {
  if (held_ || !registered_) return;
  begin(platform_.hotKeys.isKeyDown(registered_->combo.keyCode));
}

void Ear::hostPress() {
  if (held_) return;
  begin(false);
}

void Ear::begin(bool trusted) {
  const std::int64_t id = ++nextID_;
  held_ = Held{id, platform_.loop.now(), nullptr, trusted};
  open_.insert(id);
  events_.send("down", {{"id", id}});
  if (speech_->microphoneUndecided()) events_.send("asking", {{"id", id}});
  // Without a key, plain Escape alone cancels.
  watchEscape(registered_ ? registered_->combo : VoiceKeyCombo{});
  startWatchdog();
  spawn(openTake(id, spoken.load()), platform_.loop);
}

void Ear::watchEscape(const VoiceKeyCombo& combo) {
  const auto sets = escapeModifiers(combo.modifiers);
  std::weak_ptr<Ear> weak = weak_from_this();
  while (escapes_.size() < sets.size()) {
    auto escape = VoiceHotKey::make(platform_.hotKeys);
    escape->onDown = [weak] {
      if (auto ear = weak.lock()) ear->cancel();
    };
    escapes_.push_back(std::move(escape));
  }
  for (std::size_t k = 0; k < sets.size(); ++k) {
    try {
      escapes_[k]->registerCombo({VoiceKeyCombo::escapeKey, sets[k]});
    } catch (const VoiceHotKey::Failure&) {
      // That chord belongs to someone else; the others still cancel.
    }
  }
}

void Ear::startWatchdog() {
  stopWatchdog();
  std::weak_ptr<Ear> weak = weak_from_this();
  watchdog_ = platform_.loop.every(seconds(watchdogInterval), [weak] {
    if (auto ear = weak.lock()) ear->checkHeld();
  });
}

void Ear::awaitLetGo() {
  // A release lost after the cancel would keep the hot key down for good: the key state, when
  // trusted, lets it go.
  std::weak_ptr<Ear> weak = weak_from_this();
  auto upSeen = std::make_shared<int>(0);
  watchdog_ = platform_.loop.every(seconds(watchdogInterval), [weak, upSeen] {
    auto ear = weak.lock();
    if (!ear) return;
    if (!ear->key_->isDown() || !ear->registered_) {
      ear->stopWatchdog();
      return;
    }
    if (ear->platform_.hotKeys.isKeyDown(ear->registered_->combo.keyCode)) {
      *upSeen = 0;
    } else if (++*upSeen >= keyUpTicks) {
      ear->key_->forget();
      ear->stopWatchdog();
    }
  });
}

void Ear::stopWatchdog() {
  if (watchdog_) watchdog_->cancel();
  watchdog_.reset();
}

void Ear::endHold() {
  held_.reset();
  stopWatchdog();
  for (auto& escape : escapes_) escape->unregister();
}

double Ear::secondsSince(TimePoint since) const {
  return std::chrono::duration<double>(platform_.loop.now() - since).count();
}

Co<void> Ear::openTake(std::int64_t id, Language language) {
  auto self = shared_from_this();
  SpeechInput::TakeRef take;
  std::exception_ptr failure;
  try {
    auto opening = speech_->start(language, id, stillHeld(id));
    take = co_await std::move(opening);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    refused(id, failure);
    co_return;
  }
  if (held_ && held_->id == id) {
    held_->take = take;
    events_.send("open", {{"id", id}});
    co_return;
  }
  // The hold ended while its take was opening.
  if (cancelled_.erase(id)) {
    speech_->cancel(take);
    co_return;
  }
  const double heldFor = takeLetGo(id).value_or(0);
  auto ending = finish(id, take, heldFor);
  co_await std::move(ending);
}

std::function<bool()> Ear::stillHeld(std::int64_t id) {
  return [weak = weak_from_this(), id] {
    auto ear = weak.lock();
    return ear && ear->held_ && ear->held_->id == id;
  };
}

std::optional<double> Ear::takeLetGo(std::int64_t id) {
  auto found = letGo_.find(id);
  if (found == letGo_.end()) return std::nullopt;
  const double heldFor = found->second;
  letGo_.erase(found);
  return heldFor;
}

void Ear::refused(std::int64_t id, std::exception_ptr failure) {
  if (held_ && held_->id == id) endHold();
  const std::optional<double> heldFor = takeLetGo(id);
  open_.erase(id);
  if (cancelled_.erase(id)) return;
  const auto kind = failureCase(failure);
  if (kind == SpeechFailure::Case::superseded || kind == SpeechFailure::Case::letGo) {
    events_.send("final", {{"id", id}, {"text", ""}, {"held", hundredths(heldFor.value_or(0))}});
    return;
  }
  nlohmann::json payload = events_.reason(failure);
  payload["id"] = id;
  events_.send("error", payload);
}

void Ear::up() {
  if (!held_) return;
  Held hold = *held_;
  endHold();
  const double heldFor = secondsSince(hold.since);
  events_.send("up", {{"id", hold.id}});
  if (hold.take)
    spawn(finishAfter(tail, hold.id, hold.take, heldFor), platform_.loop);
  else
    letGo_[hold.id] = heldFor;
}

Co<void> Ear::finishAfter(double delay, std::int64_t id, SpeechInput::TakeRef take,
                          double heldFor) {
  auto self = shared_from_this();
  (void)co_await sleep(seconds(delay));
  auto ending = finish(id, std::move(take), heldFor);
  co_await std::move(ending);
}

Co<void> Ear::finish(std::int64_t id, SpeechInput::TakeRef take, double heldFor) {
  auto self = shared_from_this();
  auto ending = speech_->finish(take);
  const std::string text = co_await std::move(ending);
  finished(id, *take, text, heldFor);
}

void Ear::finished(std::int64_t id, const SpeechInput::Take& take, const std::string& text,
                   double heldFor) {
  open_.erase(id);
  if (take.failed() && text.empty())
    events_.send("error",
                 {{"id", id}, {"reason", "failed"}, {"detail", "the analyzer didn't start"}});
  else
    events_.send("final", {{"id", id}, {"text", text}, {"held", hundredths(heldFor)}});
}

void Ear::cancel() {
  if (!held_) return;
  Held hold = *held_;
  endHold();
  if (hold.take)
    speech_->cancel(hold.take);
  else
    cancelled_.insert(hold.id);
  open_.erase(hold.id);
  events_.send("cancelled", {{"id", hold.id}});
}

void Ear::checkHeld() {
  if (!held_) {
    stopWatchdog();
    return;
  }
  if (secondsSince(held_->since) > longestHold) {
    // The key may well still be down: its repeats and its release belong to the cancelled hold,
    // so the hot key keeps it down; only a release and a new press start another hold.
    const bool trusted = held_->keyStateTrusted;
    cancel();
    if (trusted) awaitLetGo();
    return;
  }
  if (!held_->keyStateTrusted || !registered_) return;
  if (platform_.hotKeys.isKeyDown(registered_->combo.keyCode)) {
    held_->keyUpSeen = 0;
    return;
  }
  if (++held_->keyUpSeen >= keyUpTicks) {
    key_->forget();
    up();
  }
}

}  // namespace earshot
