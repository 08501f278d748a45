#include "platform/linux/ChosenHotKeys.hpp"

#include <cstdlib>

namespace earshot::linux_platform {

namespace {
std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}
}  // namespace

SessionHints SessionHints::fromEnvironment() {
  return {variable("EARSHOT_HOTKEYS"), variable("XDG_SESSION_TYPE"), variable("DISPLAY"),
          variable("WAYLAND_DISPLAY")};
}

HotKeyBackEnd chooseHotKeys(const SessionHints& hints, const std::function<bool()>& portalAnswers) {
  auto portalOrNone = [&] { return portalAnswers() ? HotKeyBackEnd::portal : HotKeyBackEnd::none; };
  if (hints.forced == "x11") return HotKeyBackEnd::x11;
  if (hints.forced == "portal") return portalOrNone();
  if (hints.forced == "none") return HotKeyBackEnd::none;
  if (hints.sessionType == "x11") return HotKeyBackEnd::x11;
  if (hints.sessionType == "wayland" || !hints.waylandDisplay.empty()) return portalOrNone();
  // Anything else, no display included, is X11 as it always was.
  return HotKeyBackEnd::x11;
}

ChosenHotKeys::ChosenHotKeys(MainLoop& loop) : loop_(loop) {}

ChosenHotKeys::~ChosenHotKeys() = default;

HotKeyService* ChosenHotKeys::chosen() const {
  if (!decided_) {
    decided_ = true;
    const auto hints = SessionHints::fromEnvironment();
    auto answers = [&] {
      portal_ = std::make_unique<PortalHotKeys>(loop_);
      if (portal_->answers()) return true;
      portal_.reset();
      return false;
    };
    switch (chooseHotKeys(hints, answers)) {
      case HotKeyBackEnd::x11:
        x11_ = std::make_unique<X11HotKeys>(loop_);
        break;
      case HotKeyBackEnd::portal:
        break;
      case HotKeyBackEnd::none:
        portal_.reset();
        none_ = hints.forced == "none"
                    ? "system-wide keys are turned off"
                    : "a Wayland session without the desktop portal's global shortcuts";
        break;
    }
    if (lostSink_) {
      if (x11_) x11_->setLostSink(lostSink_);
      if (portal_) portal_->setLostSink(lostSink_);
    }
    if (changedSink_ && portal_) portal_->setChangedSink(changedSink_);
  }
  if (x11_) return x11_.get();
  return portal_.get();
}

HotKeyService::StatusCode ChosenHotKeys::install(Sink sink) {
  auto* service = chosen();
  return service ? service->install(std::move(sink)) : unavailable;
}

bool ChosenHotKeys::installed() const {
  auto* service = chosen();
  return service && service->installed();
}

HotKeyService::Registration ChosenHotKeys::add(VoiceKeyCombo combo, Identifier identifier) {
  auto* service = chosen();
  if (!service) return {unavailable, {}};
  return service->add(combo, identifier);
}

void ChosenHotKeys::addThen(VoiceKeyCombo combo, Identifier identifier, Added done) {
  auto* service = chosen();
  if (!service) return done({unavailable, {}});
  service->addThen(combo, identifier, std::move(done));
}

void ChosenHotKeys::remove(Handle handle) {
  if (auto* service = chosen()) service->remove(handle);
}

bool ChosenHotKeys::isKeyDown(std::uint32_t keyCode) {
  auto* service = chosen();
  return service && service->isKeyDown(keyCode);
}

void ChosenHotKeys::setLostSink(LostSink sink) {
  lostSink_ = sink;
  // Not deciding here: the choice may ask the bus, which only the modes with keys should do.
  if (x11_) x11_->setLostSink(sink);
  if (portal_) portal_->setLostSink(sink);
}

void ChosenHotKeys::setChangedSink(ChangedSink sink) {
  changedSink_ = sink;
  if (portal_) portal_->setChangedSink(sink);
}

HotKeyService::Kind ChosenHotKeys::kind() const {
  auto* service = chosen();
  return service ? service->kind() : Kind::none;
}

std::string ChosenHotKeys::backEnd() const {
  auto* service = chosen();
  return service ? service->backEnd() : "none";
}

std::string ChosenHotKeys::failureDetail() const {
  auto* service = chosen();
  return service ? service->failureDetail() : none_;
}

std::optional<HotKeyService::Trigger> ChosenHotKeys::trigger(Handle handle) const {
  auto* service = chosen();
  return service ? service->trigger(handle) : std::nullopt;
}

}  // namespace earshot::linux_platform
