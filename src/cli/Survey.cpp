#include "cli/Survey.hpp"

#include "hotkeys/VoiceHotKey.hpp"

namespace earshot {

Json surveyKeys(HotKeyService& service) {
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
  emit("keys", {{"keys", surveyKeys(service)}});
  return 0;
}

}  // namespace earshot
