#pragma once

// Where the PocketSphinx models of each locale are installed.

#include <optional>
#include <string>

#include "platform/PlatformError.hpp"
#include "platform/linux/PocketSphinx.hpp"
#include "platform/linux/RecognizerLanguage.hpp"

namespace earshot::linux_platform {

// The installed model of a language: English from Debian's package, Brazilian
// Portuguese from `modelFolder`/pt-br. Nothing when a part is missing.
std::optional<SphinxModel> findSphinxModel(const std::string& modelFolder,
                                           RecognizerLanguage language);

// A "pocketsphinx" PlatformError with its named code.
PlatformError sphinxError(SphinxError code, std::string message);

}  // namespace earshot::linux_platform
