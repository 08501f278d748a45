#pragma once

#include <functional>
#include <memory>

#include "platform/Platform.hpp"

namespace earshot {

// The machine's application names for the takes of a long-running mode (`--app-names`): scanned
// once at start, off the main thread, and again at a take when the last scan has aged.
std::function<std::shared_ptr<const AppVocabulary>()> liveAppNames(Platform& platform);

}  // namespace earshot
