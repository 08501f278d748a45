#include "support/FakePlatform.hpp"

#include "hotkeys/VoiceHotKey.hpp"

namespace earshot::testing {

FakePlatform::FakePlatform()
    : workspace(root.path() + "/sys", root.path() + "/home"), platform{loop,  hotKeys, workspace,
                                                                       audio, speech,  capture} {}

FakePlatform::~FakePlatform() {
  VoiceHotKey::unregisterAll(hotKeys);
}

}  // namespace earshot::testing
