#include "support/FakeHotKeyService.hpp"

namespace earshot::testing {

HotKeyService::StatusCode FakeHotKeyService::install(Sink sink) {
  ++installs;
  if (installStatus == 0) sink_ = std::move(sink);
  return installStatus;
}

HotKeyService::Registration FakeHotKeyService::add(VoiceKeyCombo combo, Identifier identifier) {
  ++adds;
  if (auto refused = refusals.find(combo); refused != refusals.end()) return {refused->second, {}};
  if (registered().count(combo)) return {alreadyRegistered, {}};
  if (withoutHandle.count(combo)) return {0, {}};
  const Handle handle = nextHandle_++;
  registrations_[handle] = {combo, identifier};
  return {0, handle};
}

void FakeHotKeyService::addThen(VoiceKeyCombo combo, Identifier identifier, Added done) {
  if (!deferAdds) return done(add(combo, identifier));
  deferred_.push_back({combo, identifier, std::move(done)});
}

void FakeHotKeyService::answer(std::optional<StatusCode> status) {
  auto waiting = std::move(deferred_);
  deferred_.clear();
  for (auto& request : waiting)
    request.done(status ? Registration{*status, {}} : add(request.combo, request.identifier));
}

void FakeHotKeyService::remove(Handle handle) {
  ++removes;
  registrations_.erase(handle);
}

std::optional<HotKeyService::Trigger> FakeHotKeyService::trigger(Handle handle) const {
  if (kindIs != Kind::desktop || !registrations_.count(handle)) return std::nullopt;
  return grants;
}

void FakeHotKeyService::loseAll(const std::string& why) {
  registrations_.clear();
  if (lostSink_) lostSink_(why);
}

std::set<VoiceKeyCombo> FakeHotKeyService::registered() const {
  std::set<VoiceKeyCombo> combos;
  for (const auto& [handle, registration] : registrations_) combos.insert(registration.first);
  return combos;
}

void FakeHotKeyService::deliver(Identifier identifier, bool pressed) {
  if (sink_) sink_(identifier, pressed);
}

bool FakeHotKeyService::send(VoiceKeyCombo combo, bool pressed) {
  for (const auto& [handle, registration] : registrations_) {
    if (registration.first == combo) {
      const Identifier identifier = registration.second;  // the sink may remove it
      deliver(identifier, pressed);
      return true;
    }
  }
  return false;
}

}  // namespace earshot::testing
