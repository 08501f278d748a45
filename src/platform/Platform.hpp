#pragma once

// The machine as the modes see it: the main loop and every service, built once by the platform's
// back end (platform/linux today) and handed to the entry point. Tests build one of fakes.

#include "async/MainLoop.hpp"
#include "platform/Audio.hpp"
#include "platform/Capture.hpp"
#include "platform/HotKeyService.hpp"
#include "platform/Speech.hpp"
#include "platform/Workspace.hpp"

namespace earshot {

struct Platform {
  MainLoop& loop;
  HotKeyService& hotKeys;
  Workspace& workspace;
  AudioToolkit& audio;
  SpeechService& speech;
  CaptureService& capture;
};

}  // namespace earshot
