// The push-to-talk key's side of the listening mode: taking a row of keys, announcing it, and
// retaking it when the desktop loses it. The hold cycle is in Ear.cpp.

#include "core/Language.hpp"
#include "listener/Ear.hpp"
#include "platform/Platform.hpp"

namespace earshot {

void Ear::start() {
  std::weak_ptr<Ear> weak = weak_from_this();
  // Values the capture and the analyzer sent before a hold closed may still be on their way.
  speech_->onPartial = [weak](std::int64_t id, const std::string& text) {
    if (auto ear = weak.lock(); ear && ear->open_.count(id))
      ear->events_.send("partial", {{"id", id}, {"text", text}});
  };
  speech_->onLevel = [weak](std::int64_t id, float level) {
    if (auto ear = weak.lock(); ear && ear->open_.count(id))
      ear->events_.send("level", {{"id", id}, {"value", static_cast<double>(level)}});
  };
  key_->onDown = [weak] {
    if (auto ear = weak.lock()) ear->down();
  };
  key_->onUp = [weak] {
    if (auto ear = weak.lock()) ear->up();
  };
  platform_.hotKeys.setLostSink([weak](const std::string& detail) {
    if (auto ear = weak.lock()) ear->keyLost(detail);
  });
  platform_.hotKeys.setChangedSink([weak] {
    if (auto ear = weak.lock()) ear->triggerChanged();
  });
  takeKey();
  speech_->warmUp();
  spawn(prepareQuietly(speech_, spoken.load()), platform_.loop);
}

void Ear::takeKey(bool quietly, bool retakes) {
  if (binding_) {
    // One bind at a time: the one under way is dropped when it answers, and this one follows.
    again_ = true;
    bindQuietly_ = bindQuietly_ && quietly;
    bindRetakes_ = bindRetakes_ || retakes;
    return;
  }
  key_->unregister();
  registered_.reset();
  auto candidates = std::make_shared<std::vector<NamedKey>>();
  for (const auto& row : voiceKeys)
    if (row.name == wanted_) candidates->push_back(row);
  for (const auto& row : voiceKeys)
    if (row.name != wanted_) candidates->push_back(row);
  binding_ = true;
  bindQuietly_ = quietly;
  bindRetakes_ = retakes;
  tryRow(std::move(candidates), 0);
}

void Ear::tryRow(std::shared_ptr<std::vector<NamedKey>> rows, std::size_t k) {
  if (k == rows->size()) return keyTaken(std::nullopt, 0);
  std::weak_ptr<Ear> weak = weak_from_this();
  const VoiceKeyCombo combo = (*rows)[k].combo;
  key_->registerComboThen(combo, [weak, rows, k](std::optional<VoiceHotKey::Failure> failure) {
    auto ear = weak.lock();
    if (!ear) return;
    if (!failure) return ear->keyTaken((*rows)[k], 0);
    // Taken by someone else: the next row may be free. Not so when there are no keys at all,
    // the desktop refuses the request itself, or its service went away meanwhile.
    const auto status = failure->status();
    if (failure->kind() == VoiceHotKey::Failure::Case::failed &&
        (status == HotKeyService::unavailable || status == HotKeyService::refused ||
         status == HotKeyService::lost))
      return ear->keyTaken(std::nullopt, status);
    ear->tryRow(rows, k + 1);
  });
}

void Ear::keyTaken(std::optional<NamedKey> row, HotKeyService::StatusCode refusal) {
  binding_ = false;
  const bool quietly = bindQuietly_;
  const bool retakes = bindRetakes_;
  if (again_) {
    // A "key" command or a retake came while this bind was under way: its answer is stale.
    again_ = false;
    takeKey(quietly, retakes);
    return;
  }
  registered_ = row;
  if (registered_) {
    if (retake_) retake_->cancel();
    retake_.reset();
    retakeDelay_ = firstRetake;
    announce();
    return;
  }
  // A retake after a loss goes on until the desktop grants the key again, and so does a bind
  // whose session went away meanwhile.
  const bool desktop = platform_.hotKeys.kind() == HotKeyService::Kind::desktop;
  if (retakes || (desktop && refusal == HotKeyService::lost)) retakeLater();
  if (quietly) return;
  if (refusal == HotKeyService::lost) {
    events_.send("error", {{"reason", "key-lost"}, {"detail", platform_.hotKeys.failureDetail()}});
  } else if (refusal == HotKeyService::unavailable) {
    events_.send("error",
                 {{"reason", "no-system-key"}, {"detail", platform_.hotKeys.failureDetail()}});
  } else if (refusal == HotKeyService::refused) {
    events_.send("error",
                 {{"reason", "key-refused"}, {"detail", platform_.hotKeys.failureDetail()}});
  } else {
    events_.send("error", {{"reason", "key-taken"}});
  }
}

void Ear::announce() {
  if (!registered_) return;
  const auto trigger = key_->trigger();
  if (!trigger) {
    events_.send("ready", {{"key", registered_->combo.label()}, {"name", registered_->name}});
    return;
  }
  // The desktop decided what is pressed: a row is named only when its chord is what was granted.
  std::string name = "desktop";
  for (const auto& row : voiceKeys)
    if (trigger->chord && row.combo == *trigger->chord) name = row.name;
  events_.send(
      "ready",
      {{"key", trigger->description}, {"name", name}, {"backend", platform_.hotKeys.backEnd()}});
}

void Ear::keyLost(const std::string& detail) {
  if (!registered_) return;
  dropKey(detail);
  // A desktop's shortcuts come back with its portal; an X display is taken again on a "key"
  // command.
  if (platform_.hotKeys.kind() == HotKeyService::Kind::desktop) retakeLater();
}

void Ear::triggerChanged() {
  if (!registered_) return;
  const auto trigger = key_->trigger();
  if (!trigger || !trigger->description.empty()) {
    announce();
    return;
  }
  // The user took the trigger away: binding again by ourselves would undo that, so only a "key"
  // command does.
  dropKey("the desktop took the shortcut's trigger away");
}

void Ear::dropKey(const std::string& detail) {
  // The key is gone: a hold in progress ends as a release.
  up();
  key_->unregister();
  registered_.reset();
  events_.send("error", {{"reason", "key-lost"}, {"detail", detail}});
}

void Ear::retakeLater() {
  if (retake_) retake_->cancel();
  std::weak_ptr<Ear> weak = weak_from_this();
  retake_ = platform_.loop.after(seconds(retakeDelay_), [weak] {
    auto ear = weak.lock();
    if (!ear) return;
    ear->retake_.reset();
    if (ear->registered_) return;
    // A bind under way (a "key" command's) answers first; a failure leaves this timer set.
    if (ear->binding_) return ear->retakeLater();
    ear->retakeDelay_ = std::min(ear->retakeDelay_ * 2, longestRetake);
    ear->takeKey(true);
  });
}

void Ear::use(const std::string& key) {
  if (key == wanted_ && registered_) return;
  if (key == wanted_ && binding_) {
    // The bind under way answers this command too, even a retake's, which is quiet otherwise.
    bindQuietly_ = false;
    if (held_) up();
    return;
  }
  wanted_ = key;
  if (held_) up();
  takeKey();
}

void Ear::languageChanged() {
  announce();
  spawn(prepareQuietly(speech_, spoken.load()), platform_.loop);
}

}  // namespace earshot
