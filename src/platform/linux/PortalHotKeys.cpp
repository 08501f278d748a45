#include "platform/linux/PortalHotKeys.hpp"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/linux/PortalBus.hpp"
#include "platform/linux/X11KeyMap.hpp"

// Last: Xlib defines macros such as None and Status.
#include <X11/Xlib.h>

namespace earshot::linux_platform {

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

PortalHotKeys::PortalHotKeys(MainLoop& loop, std::string address, Limits limits)
    : loop_(loop),
      bus_(std::make_shared<Bus>(address.empty() ? portal::sessionBusAddress() : std::move(address),
                                 limits)) {
  std::weak_ptr<bool> alive = alive_;
  bus_->onActivated = [this, alive](bool pressed) {
    loop_.post([this, alive, pressed] {
      if (alive.lock()) activated(pressed);
    });
  };
  bus_->onChanged = [this, alive](std::string description) {
    loop_.post([this, alive, description] {
      if (alive.lock()) changed(description);
    });
  };
  bus_->onLost = [this, alive](std::string why) {
    loop_.post([this, alive, why] {
      if (alive.lock()) lose(why);
    });
  };
}

PortalHotKeys::~PortalHotKeys() {
  alive_.reset();
  bus_.reset();
}

bool PortalHotKeys::answers() {
  Bus* bus = bus_.get();
  const auto answer = bus->await<bool>(
      [bus](std::function<void(bool)> done) { bus->probe(std::move(done)); }, bus->limits.call * 3);
  return answer.value_or(false);
}

HotKeyService::StatusCode PortalHotKeys::install(Sink sink) {
  if (!answers()) {
    detail_ = "no desktop portal with global shortcuts answers";
    return unavailable;
  }
  sink_ = std::move(sink);
  return 0;
}

bool PortalHotKeys::installed() const {
  return static_cast<bool>(sink_);
}

HotKeyService::Registration PortalHotKeys::add(VoiceKeyCombo combo, Identifier identifier) {
  detail_.clear();
  if (combo.keyCode == VoiceKeyCombo::escapeKey) {
    detail_ = "Escape is never bound on the desktop";
    return {notOffered, {}};
  }
  if (bound_ || pending_) return {alreadyRegistered, {}};
  const std::string wanted = preferredTrigger(combo);
  if (wanted.empty()) return {notOffered, {}};
  Bus* bus = bus_.get();
  const auto outcome = bus->await<Bus::Outcome>(
      [bus, wanted](std::function<void(Bus::Outcome)> done) { bus->bind(wanted, std::move(done)); },
      bus->limits.call * 2 + bus->limits.answer);
  if (!outcome) {
    detail_ = "the desktop portal did not answer in time";
    return {unavailable, {}};
  }
  if (outcome->status != 0) {
    detail_ = outcome->detail;
    return {outcome->status, {}};
  }
  const Handle handle = nextHandle_++;
  bound_ = Bound{handle, identifier, {outcome->trigger, chordOf(outcome->trigger)}};
  return {0, handle};
}

void PortalHotKeys::addThen(VoiceKeyCombo combo, Identifier identifier, Added done) {
  detail_.clear();
  if (combo.keyCode == VoiceKeyCombo::escapeKey) {
    detail_ = "Escape is never bound on the desktop";
    return done({notOffered, {}});
  }
  if (bound_ || pending_) return done({alreadyRegistered, {}});
  const std::string wanted = preferredTrigger(combo);
  if (wanted.empty()) return done({notOffered, {}});
  const std::uint64_t attempt = ++attempts_;
  std::weak_ptr<bool> alive = alive_;
  Bus* bus = bus_.get();
  // The bus thread's own bounds end every step; this one ends the wait as a whole, as the
  // waiting add() does.
  Timer timeout = loop_.after(bus->limits.call * 2 + bus->limits.answer, [this, alive, attempt] {
    if (alive.lock()) settle(attempt, unavailable, "the desktop portal did not answer in time", {});
  });
  pending_ = Pending{attempt, identifier, std::move(done), timeout};
  bus->run([this, bus, alive, attempt, wanted] {
    bus->bind(wanted, [this, alive, attempt](Bus::Outcome outcome) {
      loop_.post([this, alive, attempt, outcome] {
        if (alive.lock()) settle(attempt, outcome.status, outcome.detail, outcome.trigger);
      });
    });
  });
}

void PortalHotKeys::settle(std::uint64_t attempt, StatusCode status, const std::string& detail,
                           const std::string& description) {
  if (!pending_ || pending_->attempt != attempt) return;
  Pending pending = std::move(*pending_);
  pending_.reset();
  pending.timeout.cancel();
  if (status != 0) {
    detail_ = detail;
    return pending.done({status, {}});
  }
  const Handle handle = nextHandle_++;
  bound_ = Bound{handle, pending.identifier, {description, chordOf(description)}};
  pending.done({0, handle});
}

void PortalHotKeys::remove(Handle handle) {
  // The desktop keeps the binding; events for it are dropped until it is registered again.
  if (bound_ && bound_->handle == handle) bound_.reset();
}

std::optional<HotKeyService::Trigger> PortalHotKeys::trigger(Handle handle) const {
  if (bound_ && bound_->handle == handle) return bound_->trigger;
  return std::nullopt;
}

void PortalHotKeys::activated(bool pressed) {
  // Repeats come as further activations; the hot key above filters them.
  if (bound_ && sink_) sink_(bound_->identifier, pressed);
}

void PortalHotKeys::lose(const std::string& detail) {
  if (!bound_) return;
  bound_.reset();
  if (lostSink_) lostSink_(detail);
}

void PortalHotKeys::changed(const std::string& description) {
  if (!bound_ || bound_->trigger.description == description) return;
  bound_->trigger = {portal::trimmed(description).empty() ? std::string() : description,
                     chordOf(description)};
  if (changedSink_) changedSink_();
}

std::string PortalHotKeys::preferredTrigger(VoiceKeyCombo combo) {
  const auto keysym = keysymFor(combo.keyCode);
  const char* name = keysym ? XKeysymToString(*keysym) : nullptr;
  if (!name) return {};
  std::string text;
  if (combo.modifiers & VoiceKeyCombo::control) text += "CTRL+";
  if (combo.modifiers & VoiceKeyCombo::option) text += "ALT+";
  if (combo.modifiers & VoiceKeyCombo::shift) text += "SHIFT+";
  if (combo.modifiers & VoiceKeyCombo::command) text += "LOGO+";
  return text + name;
}

std::optional<VoiceKeyCombo> PortalHotKeys::chordOf(const std::string& description) {
  std::vector<std::string> words;
  std::stringstream in(description);
  for (std::string word; std::getline(in, word, '+');)
    words.push_back(lowered(portal::trimmed(word)));
  if (words.empty() || words.back().empty()) return std::nullopt;
  std::optional<std::uint32_t> keyCode;
  for (std::uint32_t code : knownKeyCodes()) {
    const auto keysym = keysymFor(code);
    const char* name = keysym ? XKeysymToString(*keysym) : nullptr;
    if (name && lowered(name) == words.back()) keyCode = code;
  }
  if (!keyCode) return std::nullopt;
  std::uint32_t modifiers = 0;
  for (std::size_t k = 0; k + 1 < words.size(); ++k) {
    const std::string& w = words[k];
    std::uint32_t bit = 0;
    if (w == "ctrl" || w == "control") bit = VoiceKeyCombo::control;
    if (w == "alt" || w == "option" || w == "mod1") bit = VoiceKeyCombo::option;
    if (w == "shift") bit = VoiceKeyCombo::shift;
    if (w == "logo" || w == "super" || w == "meta" || w == "mod4") bit = VoiceKeyCombo::command;
    if (!bit || (modifiers & bit)) return std::nullopt;
    modifiers |= bit;
  }
  return VoiceKeyCombo{*keyCode, modifiers};
}

}  // namespace earshot::linux_platform
