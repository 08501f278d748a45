#include "hotkeys/VoiceHotKey.hpp"

#include <vector>

namespace earshot {

namespace {
// Numbers are never reused, so 0 is never a hot key's.
std::uint32_t nextID = 1;
}  // namespace

VoiceHotKey::Failure::Failure(Case c, HotKeyService::StatusCode status)
    : case_(c),
      status_(status),
      text_(c == Case::taken ? "taken" : "failed(" + std::to_string(status) + ")") {}

std::map<std::uint32_t, std::shared_ptr<VoiceHotKey>>& VoiceHotKey::registry() {
  static std::map<std::uint32_t, std::shared_ptr<VoiceHotKey>> keys;
  return keys;
}

VoiceHotKey::VoiceHotKey(HotKeyService& service) : service_(service), id_(nextID++) {}

std::shared_ptr<VoiceHotKey> VoiceHotKey::make(HotKeyService& service) {
  return std::shared_ptr<VoiceHotKey>(new VoiceHotKey(service));
}

void VoiceHotKey::registerCombo(VoiceKeyCombo combo) {
  unregister();
  if (!service_.installed()) {
    if (auto status = service_.install(&VoiceHotKey::deliver); status != 0)
      throw Failure::failed(status);
  }
  auto registration = service_.add(combo, {signature, id_});
  if (registration.status == HotKeyService::alreadyRegistered) throw Failure::taken();
  if (registration.status != 0 || !registration.handle) throw Failure::failed(registration.status);
  reference_ = registration.handle;
  combo_ = combo;
  registry()[id_] = shared_from_this();
}

void VoiceHotKey::registerComboThen(VoiceKeyCombo combo, Registered done) {
  unregister();
  if (!service_.installed()) {
    if (auto status = service_.install(&VoiceHotKey::deliver); status != 0)
      return done(Failure::failed(status));
  }
  const std::uint64_t attempt = attempt_;
  std::weak_ptr<VoiceHotKey> weak = weak_from_this();
  HotKeyService* service = &service_;
  service_.addThen(combo, {signature, id_},
                   [weak, service, attempt, combo,
                    done = std::move(done)](HotKeyService::Registration registration) {
                     auto key = weak.lock();
                     if (!key || key->attempt_ != attempt) {
                       if (registration.status == 0 && registration.handle)
                         service->remove(*registration.handle);
                       return;
                     }
                     if (registration.status == HotKeyService::alreadyRegistered)
                       return done(Failure::taken());
                     if (registration.status != 0 || !registration.handle)
                       return done(Failure::failed(registration.status));
                     key->reference_ = registration.handle;
                     key->combo_ = combo;
                     registry()[key->id_] = key;
                     done(std::nullopt);
                   });
}

void VoiceHotKey::unregister() {
  ++attempt_;
  if (reference_) service_.remove(*reference_);
  reference_.reset();
  combo_.reset();
  isDown_ = false;
  // Last: this may drop the registry's reference, the last one to this object.
  registry().erase(id_);
}

void VoiceHotKey::unregisterAll(HotKeyService& service) {
  // Copied first: each unregister edits the registry.
  std::vector<std::shared_ptr<VoiceHotKey>> keys;
  for (const auto& [id, key] : registry())
    if (&key->service_ == &service) keys.push_back(key);
  for (const auto& key : keys) key->unregister();
}

void VoiceHotKey::deliver(HotKeyService::Identifier identifier, bool pressed) {
  if (identifier.signature != signature) return;
  auto found = registry().find(identifier.number);
  if (found == registry().end()) return;
  // The callbacks may unregister this key, which would otherwise free it under our feet, or
  // replace themselves.
  std::shared_ptr<VoiceHotKey> key = found->second;
  if (pressed) {
    if (key->isDown_) return;
    key->isDown_ = true;
    if (auto callback = key->onDown) callback();
  } else {
    if (!key->isDown_) return;
    key->isDown_ = false;
    if (auto callback = key->onUp) callback();
  }
}

}  // namespace earshot
