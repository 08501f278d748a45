#include "platform/linux/SphinxModels.hpp"

#include <sys/stat.h>

#include "platform/PlatformError.hpp"

namespace earshot::linux_platform {

namespace {

constexpr const char* englishFolder = "/usr/share/pocketsphinx/model/en-us";

bool isFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<SphinxModel> findSphinxModel(const std::string& modelFolder,
                                           RecognizerLanguage language) {
  SphinxModel model;
  if (language == RecognizerLanguage::english) {
    const std::string folder = englishFolder;
    model = {folder + "/en-us", folder + "/en-us.lm.bin", folder + "/cmudict-en-us.dict"};
  } else {
    const std::string folder = modelFolder + "/pt-br";
    model = {folder + "/pt-br", folder + "/pt-br.lm.bin", folder + "/pt-br.dict"};
    if (!isFile(model.language)) model.language = folder + "/pt-br.lm";
  }
  if (!isFolder(model.acoustic) || !isFile(model.acoustic + "/mdef") || !isFile(model.language) ||
      !isFile(model.dictionary))
    return std::nullopt;
  return model;
}

PlatformError sphinxError(SphinxError code, std::string message) {
  return PlatformError("pocketsphinx", static_cast<long>(code), std::move(message));
}

}  // namespace earshot::linux_platform
