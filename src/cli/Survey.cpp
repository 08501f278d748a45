#include "cli/Survey.hpp"

#include "hotkeys/VoiceHotKey.hpp"

namespace earshot {

Json surveyKeys(HotKeyService& service) {
  // The desktop binds whatever is asked and decides the trigger itself, perhaps after asking the
  // user: a trial would say nothing about a chord and leave a binding behind. Unknown is null.
  if (service.kind() == HotKeyService::Kind::desktop) {
    Json rows = Json::array();
    for (const auto& [name, combo] : voiceKeys)
      rows.push_back({{"name", name}, {"key", combo.label()}, {"free", nullptr}});
    return rows;
  }
  auto probe = VoiceHotKey::make(service);
  Json rows = Json::array();
  for (const auto& [name, combo] : voiceKeys) {
    bool free = true;
    try {
      probe->registerCombo(combo);
    } catch (...) {
      free = false;
    }
    // One trial at a time, and none survives the survey.
    probe->unregister();
    rows.push_back({{"name", name}, {"key", combo.label()}, {"free", free}});
  }
  return rows;
}

int runSurvey(HotKeyService& service) {
  Json payload = {{"keys", surveyKeys(service)}};
  // X11 answers as it always has; other back ends say which they are.
  if (service.kind() != HotKeyService::Kind::grabs) payload["backend"] = service.backEnd();
  emit("keys", payload);
  return 0;
}

}  // namespace earshot
