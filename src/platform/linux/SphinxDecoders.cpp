#include "platform/linux/SphinxDecoders.hpp"

#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <thread>
#include <type_traits>

#include "platform/PlatformError.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/SphinxModels.hpp"

namespace earshot::linux_platform {

namespace {

void ignoreMessage(void*, err_lvl_t, const char*, ...) {}

static_assert(std::is_same_v<mfcc_t, float>, "sphinxbase built without fixed point");

std::future<ps_decoder_t*> ready(ps_decoder_t* decoder) {
  std::promise<ps_decoder_t*> promise;
  promise.set_value(decoder);
  return promise.get_future();
}

}  // namespace

void silenceSphinx() {
  static std::once_flag once;
  std::call_once(once, [] {
    err_set_logfp(nullptr);
    err_set_callback(ignoreMessage, nullptr);
  });
}

DecoderPool::DecoderPool(SphinxModel model, SphinxSearch search)
    : model_(std::move(model)), search_(search) {}

DecoderPool::~DecoderPool() {
  for (ps_decoder_t* decoder : idle_) ps_free(decoder);
  for (ps_decoder_t* decoder : grammarIdle_) ps_free(decoder);
}

std::future<ps_decoder_t*> DecoderPool::acquire(DecoderKind kind) {
  {
    std::lock_guard guard(lock_);
    auto take = [](std::vector<ps_decoder_t*>& from) {
      ps_decoder_t* decoder = from.back();
      from.pop_back();
      return ready(decoder);
    };
    if (kind == DecoderKind::grammar && !grammarIdle_.empty()) return take(grammarIdle_);
    if (!idle_.empty()) return take(idle_);
    // A stopped analysis gives its decoder back within one buffer and one utterance's end;
    // loading another would cost the memory of a whole model for the rest of the process.
    if (kind == DecoderKind::grammar &&
        grammarPromised_ > static_cast<int>(grammarWaiting_.size())) {
      grammarWaiting_.emplace_back();
      return grammarWaiting_.back().get_future();
    }
    if (promised_ > static_cast<int>(waiting_.size())) {
      waiting_.emplace_back();
      return waiting_.back().get_future();
    }
    // The caller may be the main loop: a load, background or new, is never waited for here.
    if (loading_ && !loadClaimed_) {
      loadClaimed_ = true;
      return loadPromise_.get_future();
    }
  }
  std::promise<ps_decoder_t*> loaded;
  auto result = loaded.get_future();
  std::thread([self = shared_from_this(), loaded = std::move(loaded)]() mutable {
    try {
      loaded.set_value(self->load());
    } catch (...) {
      loaded.set_exception(std::current_exception());
    }
  }).detach();
  return result;
}

void DecoderPool::promise(DecoderKind kind) {
  std::lock_guard guard(lock_);
  ++(kind == DecoderKind::grammar ? grammarPromised_ : promised_);
}

void DecoderPool::withdraw(DecoderKind kind, std::exception_ptr why) {
  std::lock_guard guard(lock_);
  int& promised = kind == DecoderKind::grammar ? grammarPromised_ : promised_;
  auto& waiting = kind == DecoderKind::grammar ? grammarWaiting_ : waiting_;
  --promised;
  // Those who counted on this decoder would wait for ever.
  while (static_cast<int>(waiting.size()) > std::max(promised, 0)) {
    waiting.back().set_exception(why);
    waiting.pop_back();
  }
}

void DecoderPool::release(ps_decoder_t* decoder, bool promised, DecoderKind kind) {
  reset(decoder);
  std::lock_guard guard(lock_);
  if (promised) --(kind == DecoderKind::grammar ? grammarPromised_ : promised_);
  handOut(decoder, promised && kind == DecoderKind::grammar);
}

// A decoder promised to application-command analyses goes to one of them even when it kept its
// language model (its grammar failed), since their waiters count on it.
void DecoderPool::handOut(ps_decoder_t* decoder, bool promisedForGrammar) {
  const bool general = hasLanguageModel(decoder);
  auto give = [&](std::deque<std::promise<ps_decoder_t*>>& waiting) {
    waiting.front().set_value(decoder);
    waiting.pop_front();
  };
  if ((!general || promisedForGrammar) && !grammarWaiting_.empty())
    give(grammarWaiting_);
  else if (general && !waiting_.empty())
    give(waiting_);
  else
    (general ? idle_ : grammarIdle_).push_back(decoder);
}

void DecoderPool::preload(const std::shared_ptr<DecoderPool>& self) {
  std::lock_guard guard(lock_);
  if (!idle_.empty() || loading_ || made_ > 0) return;
  loading_ = true;
  loadClaimed_ = false;
  loadPromise_ = std::promise<ps_decoder_t*>();
  std::thread([self] {
    ps_decoder_t* decoder = nullptr;
    std::exception_ptr error;
    try {
      decoder = self->load();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard guard(self->lock_);
    self->loading_ = false;
    if (self->loadClaimed_) {
      if (error)
        self->loadPromise_.set_exception(error);
      else
        self->loadPromise_.set_value(decoder);
    } else if (decoder) {
      self->handOut(decoder, false);
    }
  }).detach();
}

int DecoderPool::made() const {
  std::lock_guard guard(lock_);
  return made_;
}

GrammarState& DecoderPool::grammarState(ps_decoder_t* decoder) {
  std::lock_guard guard(lock_);
  return grammarStates_.at(decoder);
}

ps_decoder_t* DecoderPool::load() {
  silenceSphinx();
  const char* fwdflat = search_.fwdflat ? "yes" : "no";
  const char* bestpath = search_.bestpath ? "yes" : "no";
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model_.acoustic.c_str(), "-lm",
                                 model_.language.c_str(), "-dict", model_.dictionary.c_str(),
                                 "-fwdflat", fwdflat, "-bestpath", bestpath, nullptr);
  if (!config)
    throw sphinxError(SphinxError::settingsRefused, "The recognizer's settings were refused.");
  ps_decoder_t* decoder = ps_init(config);
  cmd_ln_free_r(config);
  if (!decoder)
    throw sphinxError(SphinxError::modelNotLoaded, "The recognizer's model could not be loaded.");
  std::lock_guard guard(lock_);
  ++made_;
  grammarStates_.try_emplace(decoder);
  if (initialMean_.empty()) {
    const cmn_t* cmn = ps_get_feat(decoder)->cmn_struct;
    if (cmn) initialMean_.assign(cmn->cmn_mean, cmn->cmn_mean + cmn->veclen);
  }
  return decoder;
}

// The live cepstral mean and the noise level of the stream outlive an utterance: each analysis
// begins from a fresh decoder's, with no frames counted, so that earlier takes never colour its
// text. Everything else is reset by the start of an utterance.
void DecoderPool::reset(ps_decoder_t* decoder) const {
  ps_start_stream(decoder);
  cmn_t* cmn = ps_get_feat(decoder)->cmn_struct;
  if (!cmn || initialMean_.size() != static_cast<std::size_t>(cmn->veclen)) return;
  std::copy(initialMean_.begin(), initialMean_.end(), cmn->cmn_mean);
  std::fill(cmn->sum, cmn->sum + cmn->veclen, 0.0f);
  cmn->nframe = 0;
}

}  // namespace earshot::linux_platform
