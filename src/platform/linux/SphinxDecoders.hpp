#pragma once

// The decoders of one PocketSphinx language, loaded once and shared by the analyzers in turn.

#include <pocketsphinx.h>

#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/PocketSphinx.hpp"

namespace earshot::linux_platform {

// Idle decoders of one language, kept for the process. A reservation loads one in the background;
// the first analyzer that finds none idle claims that load instead of starting another.
class DecoderPool {
 public:
  explicit DecoderPool(SphinxModel model) : model_(std::move(model)) {}

  // An analysis of application commands takes a decoder that had a grammar before one that still
  // has its language model (which it gives up); the others never take one without a model.
  ps_decoder_t* acquire(bool forGrammar = false) {
    std::shared_future<ps_decoder_t*> claimed;
    {
      std::lock_guard guard(lock_);
      if (forGrammar && !grammarIdle_.empty()) {
        ps_decoder_t* decoder = grammarIdle_.back();
        grammarIdle_.pop_back();
        return decoder;
      }
      if (!idle_.empty()) {
        ps_decoder_t* decoder = idle_.back();
        idle_.pop_back();
        return decoder;
      }
      if (loading_ && !loadClaimed_) {
        loadClaimed_ = true;
        claimed = loadResult_;
      }
    }
    if (claimed.valid()) return claimed.get();
    return load();
  }

  void release(ps_decoder_t* decoder) {
    const bool general = hasLanguageModel(decoder);
    std::lock_guard guard(lock_);
    (general ? idle_ : grammarIdle_).push_back(decoder);
  }

  // Starts a background load unless a decoder is idle or already loading.
  void preload(const std::shared_ptr<DecoderPool>& self) {
    std::lock_guard guard(lock_);
    if (!idle_.empty() || loading_ || made_ > 0) return;
    loading_ = true;
    loadClaimed_ = false;
    loadPromise_ = std::promise<ps_decoder_t*>();
    loadResult_ = loadPromise_.get_future().share();
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
        self->idle_.push_back(decoder);
      }
    }).detach();
  }

 private:
  ps_decoder_t* load();

  SphinxModel model_;
  std::mutex lock_;
  std::vector<ps_decoder_t*> idle_;
  std::vector<ps_decoder_t*> grammarIdle_;
  int made_ = 0;
  bool loading_ = false;
  bool loadClaimed_ = false;
  std::promise<ps_decoder_t*> loadPromise_;
  std::shared_future<ps_decoder_t*> loadResult_;
};

}  // namespace earshot::linux_platform
