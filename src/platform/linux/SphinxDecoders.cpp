#include "platform/linux/SphinxDecoders.hpp"

#include <sphinxbase/err.h>

#include "platform/PlatformError.hpp"
#include "platform/linux/SphinxModels.hpp"

namespace earshot::linux_platform {

namespace {

void ignoreMessage(void*, err_lvl_t, const char*, ...) {}

}  // namespace

void silenceSphinx() {
  static std::once_flag once;
  std::call_once(once, [] {
    err_set_logfp(nullptr);
    err_set_callback(ignoreMessage, nullptr);
  });
}

ps_decoder_t* DecoderPool::load() {
  silenceSphinx();
  cmd_ln_t* config =
      cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model_.acoustic.c_str(), "-lm",
                  model_.language.c_str(), "-dict", model_.dictionary.c_str(), nullptr);
  if (!config)
    throw sphinxError(SphinxError::settingsRefused, "The recognizer's settings were refused.");
  ps_decoder_t* decoder = ps_init(config);
  cmd_ln_free_r(config);
  if (!decoder)
    throw sphinxError(SphinxError::modelNotLoaded, "The recognizer's model could not be loaded.");
  std::lock_guard guard(lock_);
  ++made_;
  return decoder;
}

}  // namespace earshot::linux_platform
