#pragma once

// Where the PocketSphinx models of each locale are installed.

#include <optional>
#include <string>

#include "platform/PlatformError.hpp"
#include "platform/linux/PocketSphinx.hpp"

namespace earshot::linux_platform {

// The locale a requested identifier stands for: "en_US", "en-US" and "en" mean English.
std::string canonicalLocale(std::string locale);

// The installed model for a locale identifier: English from Debian's package, Brazilian
// Portuguese from `modelFolder`/pt-br. Nothing when a part is missing.
std::optional<SphinxModel> findSphinxModel(const std::string& modelFolder,
                                           const std::string& locale);

// A "pocketsphinx" PlatformError with its named code.
PlatformError sphinxError(SphinxError code, std::string message);

}  // namespace earshot::linux_platform
