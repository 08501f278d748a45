#pragma once

#include "cli/Emit.hpp"
#include "platform/HotKeyService.hpp"

namespace earshot {

// The rows of the "keys" event: each named chord of `voiceKeys`, in order, with its label in the
// current language and whether a trial registration succeeded. Nothing stays registered.
Json surveyKeys(HotKeyService& service);

// The survey mode: emits "keys" and returns the exit status, 0.
int runSurvey(HotKeyService& service);

}  // namespace earshot
