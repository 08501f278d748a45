#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/VoiceKeyCombo.hpp"
#include "platform/HotKeyService.hpp"

namespace earshot {

// One system-wide hot key of this process: holds at most one registered chord and calls onDown
// when it goes down and onUp when it comes up, on the main thread. Everything here runs on the main
// thread.
class VoiceHotKey : public std::enable_shared_from_this<VoiceHotKey> {
 public:
  // Why a chord could not be registered.
  class Failure : public std::exception {
   public:
    enum class Case { failed, taken };
    static Failure failed(HotKeyService::StatusCode status) {
      return Failure(Case::failed, status);
    }
    static Failure taken() { return Failure(Case::taken, 0); }

    Case kind() const { return case_; }
    // The platform's status of `failed`; zero for `taken`.
    HotKeyService::StatusCode status() const { return status_; }
    // "taken", or "failed(<status>)".
    const char* what() const noexcept override { return text_.c_str(); }

    friend bool operator==(const Failure& a, const Failure& b) {
      return a.case_ == b.case_ && a.status_ == b.status_;
    }

   private:
    Failure(Case c, HotKeyService::StatusCode status);
    Case case_;
    HotKeyService::StatusCode status_;
    std::string text_;
  };

  // The code that marks this process's registrations: "VKEY" folded into one number.
  static constexpr std::uint32_t signature = ('V' << 24) | ('K' << 16) | ('E' << 8) | 'Y';

  // A new, unregistered hot key on `service`, which must outlive every hot key made on it.
  static std::shared_ptr<VoiceHotKey> make(HotKeyService& service);

  VoiceHotKey(const VoiceHotKey&) = delete;
  VoiceHotKey& operator=(const VoiceHotKey&) = delete;

  // Read at delivery time; may register and unregister hot keys, this one included.
  std::function<void()> onDown;
  std::function<void()> onUp;

  // Makes `combo` this key's chord, dropping the one it holds first. Throws Failure; on failure
  // the key is left unregistered. (Not `register`: that is a reserved word in C++.)
  void registerCombo(VoiceKeyCombo combo);
  // Like registerCombo, but `done` is told the outcome (nullopt: registered) once the platform
  // answers, on the main thread; it may be called before this returns. Unregistering, or
  // registering again, before the answer drops it: `done` is then never called, and a chord
  // granted late is given back.
  using Registered = std::function<void(std::optional<Failure>)>;
  void registerComboThen(VoiceKeyCombo combo, Registered done);
  // Drops the registration, if any, and clears isDown. Never fails.
  void unregister();
  // Takes the key for up without touching the registration: a late release is then ignored and
  // the next press is delivered.
  void forget() { isDown_ = false; }

  // The chord held now. Read-only: only registerCombo and unregister change it, so it always is
  // the chord the platform has.
  const std::optional<VoiceKeyCombo>& combo() const { return combo_; }
  std::uint32_t id() const { return id_; }
  // What the user presses for this key, as the desktop words it, when the desktop decides it.
  std::optional<HotKeyService::Trigger> trigger() const {
    return reference_ ? service_.trigger(*reference_) : std::nullopt;
  }
  bool isDown() const { return isDown_; }

  // How many hot keys hold a registration right now, in the whole process.
  static std::size_t registeredCount() { return registry().size(); }
  // Unregisters every hot key registered on `service`, which is about to go away: a registration
  // kept past its service would call into it.
  static void unregisterAll(HotKeyService& service);

 private:
  explicit VoiceHotKey(HotKeyService& service);

  // The one sink of the process: finds the hot key an event belongs to.
  static void deliver(HotKeyService::Identifier identifier, bool pressed);
  // Every hot key that holds a registration, under its id. The map keeps them alive.
  static std::map<std::uint32_t, std::shared_ptr<VoiceHotKey>>& registry();

  HotKeyService& service_;
  std::optional<VoiceKeyCombo> combo_;
  std::optional<HotKeyService::Handle> reference_;
  // Counts registrations begun and dropped, so that a late answer knows it is stale.
  std::uint64_t attempt_ = 0;
  const std::uint32_t id_;
  bool isDown_ = false;
};

}  // namespace earshot
