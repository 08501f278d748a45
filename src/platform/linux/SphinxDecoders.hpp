#pragma once

// The decoders of one PocketSphinx language, loaded once and shared by the analyzers in turn.

#include <pocketsphinx.h>

#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/PocketSphinx.hpp"

namespace earshot::linux_platform {

// What an analysis takes a decoder for: free speech on the language model, or application
// commands on a grammar.
enum class DecoderKind { general, grammar };

// Idle decoders of one language, kept for the process. A reservation loads one in the background;
// the first analyzer that finds none idle claims that load instead of starting another. A decoder
// is handed out in the state of a freshly loaded one. Made with std::make_shared.
class DecoderPool : public std::enable_shared_from_this<DecoderPool> {
 public:
  DecoderPool(SphinxModel model, SphinxSearch search);
  ~DecoderPool();
  DecoderPool(const DecoderPool&) = delete;
  DecoderPool& operator=(const DecoderPool&) = delete;

  // A decoder for one analysis: an idle one, one that a stopped analysis has promised back, the
  // background load, or a new load (on a thread of its own), in that order. Never waits: the
  // future is ready at once for an idle decoder; a promised one comes back as soon as its
  // analysis has closed its utterance, a load when it is done. A model that does not load makes
  // the future throw PlatformError.
  //
  // An analysis of application commands (`grammar`) takes a decoder that had a grammar before
  // one that still has its language model (which it gives up); the others never take one without
  // a model.
  std::future<ps_decoder_t*> acquire(DecoderKind kind = DecoderKind::general);

  // Announces that a decoder still in use will be released shortly, so that the next `acquire`
  // waits for it instead of loading another.
  // `kind` as the analysis acquired it.
  void promise(DecoderKind kind = DecoderKind::general);
  // Takes back a `promise()` whose decoder never came (its load failed with `why`).
  void withdraw(DecoderKind kind, std::exception_ptr why);
  // Gives a decoder back; `promised` when `promise()` was called for it, with the same `kind`.
  void release(ps_decoder_t* decoder, bool promised, DecoderKind kind = DecoderKind::general);

  // Starts a background load unless a decoder was ever made or is loading.
  void preload(const std::shared_ptr<DecoderPool>& self);

  // How many decoders this pool has loaded.
  int made() const;

  // What the application-command search has given one of this pool's decoders. Lives as long as
  // the decoder; only the analysis that holds the decoder touches it.
  GrammarState& grammarState(ps_decoder_t* decoder);

 private:
  ps_decoder_t* load();
  void reset(ps_decoder_t* decoder) const;
  void handOut(ps_decoder_t* decoder, bool promisedForGrammar);  // with lock_ held

  SphinxModel model_;
  SphinxSearch search_;
  mutable std::mutex lock_;
  std::vector<ps_decoder_t*> idle_;
  std::vector<ps_decoder_t*> grammarIdle_;
  // Waiters for a promised decoder of each kind; a grammar analysis may wait for either kind.
  std::deque<std::promise<ps_decoder_t*>> waiting_;
  std::deque<std::promise<ps_decoder_t*>> grammarWaiting_;
  int promised_ = 0;         // decoders with a language model announced and not yet released
  int grammarPromised_ = 0;  // the same for decoders that an application-command analysis holds
  int made_ = 0;
  std::map<ps_decoder_t*, GrammarState> grammarStates_;  // one per decoder loaded
  std::vector<float> initialMean_;  // the live cepstral mean of a fresh decoder
  bool loading_ = false;
  bool loadClaimed_ = false;
  std::promise<ps_decoder_t*> loadPromise_;
};

}  // namespace earshot::linux_platform
