#pragma once

#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/HotKeyService.hpp"

namespace earshot::testing {

// A scripted hot-key service: registrations succeed unless a chord was scripted otherwise, chords
// are exclusive as on the real platform, and the test sends the presses and releases.
class FakeHotKeyService : public HotKeyService {
 public:
  // Scripting.
  StatusCode installStatus = 0;                  // what install() answers
  std::map<VoiceKeyCombo, StatusCode> refusals;  // chords refused with a status
  std::set<VoiceKeyCombo> withoutHandle;         // chords accepted without a handle
  std::set<std::uint32_t> keysDown;              // virtual key codes that are down

  // What happened.
  int installs = 0;
  int adds = 0;
  int removes = 0;

  StatusCode install(Sink sink) override;
  bool installed() const override { return static_cast<bool>(sink_); }
  Registration add(VoiceKeyCombo combo, Identifier identifier) override;
  void addThen(VoiceKeyCombo combo, Identifier identifier, Added done) override;
  void remove(Handle handle) override;
  bool isKeyDown(std::uint32_t keyCode) override { return keysDown.count(keyCode) > 0; }
  void setLostSink(LostSink sink) override { lostSink_ = std::move(sink); }
  void setChangedSink(ChangedSink sink) override { changedSink_ = std::move(sink); }
  Kind kind() const override { return kindIs; }
  std::string backEnd() const override { return kindIs == Kind::desktop ? "portal" : "x11"; }
  std::string failureDetail() const override { return detail; }
  std::optional<Trigger> trigger(Handle handle) const override;

  // Scripting a desktop that decides the trigger: what it grants, whatever chord is asked.
  Kind kindIs = Kind::grabs;
  std::optional<Trigger> grants;
  std::string detail;
  // Every registration is gone at once, as when the display or the desktop's service goes.
  void loseAll(const std::string& why);
  // The desktop now grants `trigger` instead.
  void change(Trigger trigger) {
    grants = std::move(trigger);
    if (changedSink_) changedSink_();
  }

  // Scripting a desktop that answers later (a confirmation dialog): while set, addThen() keeps
  // its requests until answer() answers them, as add() would or else with `status`.
  bool deferAdds = false;
  void answer(std::optional<StatusCode> status = std::nullopt);
  std::size_t waiting() const { return deferred_.size(); }

  // The chords registered now.
  std::set<VoiceKeyCombo> registered() const;

  // Delivers an event to whoever holds `combo`; false when nobody does.
  bool press(VoiceKeyCombo combo) { return send(combo, true); }
  bool release(VoiceKeyCombo combo) { return send(combo, false); }
  // Delivers an event with any identifier, registered or not.
  void deliver(Identifier identifier, bool pressed);

 private:
  bool send(VoiceKeyCombo combo, bool pressed);

  Sink sink_;
  LostSink lostSink_;
  ChangedSink changedSink_;
  std::map<Handle, std::pair<VoiceKeyCombo, Identifier>> registrations_;
  Handle nextHandle_ = 1;
  struct Deferred {
    VoiceKeyCombo combo;
    Identifier identifier;
    Added done;
  };
  std::vector<Deferred> deferred_;
};

}  // namespace earshot::testing
