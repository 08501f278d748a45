#include "platform/linux/SphinxAnalyzer.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <future>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "platform/PlatformError.hpp"
#include "platform/linux/GrammarSearch.hpp"
#include "platform/linux/PhoneLoopCheck.hpp"
#include "platform/linux/SphinxDecoders.hpp"
#include "platform/linux/SphinxModels.hpp"
#include "platform/linux/WarpedPasses.hpp"

namespace earshot::linux_platform {

namespace {

// What the analyzer shares with its worker thread.
struct AnalysisState {
  std::shared_ptr<DecoderPool> pool;
  AsyncStream<SpeechResult> results;
  std::atomic<bool> cancelled{false};
  std::mutex lock;
  std::condition_variable changed;
  bool started = false;
  bool done = false;
  bool holding = false;   // the worker has or will have a decoder it must give back
  bool promised = false;  // the pool was told it comes back soon
  DecoderKind kind = DecoderKind::general;  // as the pool knows the analysis
  std::exception_ptr error;
  std::optional<AnalyzerInputStream> input;

  void giveBack(ps_decoder_t* decoder) {
    std::lock_guard guard(lock);
    holding = false;
    // Under the lock, so that a cancel either promises this decoder or finds it back already.
    pool->release(decoder, promised, kind);
  }

  // The decoder never came: there is nothing to give back.
  void forgo(std::exception_ptr why) {
    std::lock_guard guard(lock);
    holding = false;
    if (promised) pool->withdraw(kind, std::move(why));
  }

  void end(std::exception_ptr failure) {
    std::optional<AnalyzerInputStream> reading;
    {
      std::lock_guard guard(lock);
      done = true;
      error = std::move(failure);
      reading = input;
    }
    // Nobody reads the input any more: a writer waiting for room must not wait for ever.
    if (reading) reading->finish();
    results.finish();
    changed.notify_all();
  }
};

// Reads the input on its own thread, one utterance at a time: an utterance ends where the
// decoder's voice activity detection finds silence, as PocketSphinx's own continuous mode does.
// An application command is one utterance however its speaker pauses: cut at a pause, "open" and
// "firefox" would each have to be a command of its own.
void analyse(std::shared_ptr<AnalysisState> state, AnalyzerInputStream input,
             std::future<ps_decoder_t*> claim, bool partials,
             std::optional<AppVocabulary> vocabulary, GrammarWords pronounced) {
  ps_decoder_t* decoder = nullptr;
  try {
    decoder = claim.get();
  } catch (...) {
    state->forgo(std::current_exception());
    state->end(std::current_exception());
    return;
  }
  std::shared_ptr<const AppGrammar> grammar;
  GrammarCosts costs;
  bool checking = false;  // a heard name is scored against the phone loop
  auto threshold = [&] { return costs.of(pronounced.said).verification; };
  auto warps = [&]() -> const std::vector<double>& { return costs.of(pronounced.said).warps; };
  try {
    // Built here, off the caller's thread: the input queues meanwhile.
    if (vocabulary) {
      GrammarState& given = state->pool->grammarState(decoder);
      grammar = appGrammar(decoder, given, *vocabulary, pronounced);
      costs = grammarCosts();
      useGrammar(decoder, given, grammar, costs, pronounced.said);
      checking = (std::isfinite(threshold()) || commandScoresObserved()) && addPhoneLoop(decoder);
    }
  } catch (...) {
    state->giveBack(decoder);
    state->end(std::current_exception());
    return;
  }
  // Dictation keeps the faint noise its word error figures were measured with, and so does the
  // first pass of a command: louder noise helps the passes with the command's own mean, but
  // leaves the first, on the model's prior mean, hearing almost nothing.
  constexpr double dictationDither = 32;
  const auto firstDither = static_cast<float>(grammar ? costs.firstPassDither : dictationDither);
  const auto laterDither = static_cast<float>(costs.dither);
  std::exception_ptr failure;
  bool spokeBefore = false;  // a later utterance's text begins with a space
  bool inUtterance = false;
  std::string lastPartial;
  std::vector<std::int16_t> pcm;
  std::vector<std::int16_t> heard;       // the command so far, for the second pass and the check
  std::optional<CepstralMean> passMean;  // where the pass that is heard began
  // The same noise for the same audio: results do not vary from run to run.
  std::minstd_rand noise(17);
  std::uniform_real_distribution<float> dither(-1.0f, 1.0f);

  auto text = [&](const char* hypothesis) {
    std::string words = hypothesis ? hypothesis : "";
    if (grammar) words = grammar->text(words);
    return spokeBefore && !words.empty() ? " " + words : words;
  };
  auto closeUtterance = [&] {
    ps_end_utt(decoder);
    // The first pass ended with the command's own cepstral mean in place of the model's prior:
    // heard again with it, the command no longer depends on how far its voice and room are
    // from the training data's average.
    const bool again = costs.secondPass == GrammarCosts::SecondPass::always ||
                       (costs.secondPass == GrammarCosts::SecondPass::whenRejected &&
                        text(ps_get_hyp(decoder, nullptr)).empty());
    bool second = false;
    std::optional<CepstralMean> afterFirst;
    if (grammar && again && !heard.empty() && !state->cancelled) {
      // The mean the first pass ended with is of its own, fainter noise: the next pass starts
      // from the mean of what it hears.
      if (laterDither != firstDither) useMeanOf(decoder, heard);
      if (checking) passMean.emplace(decoder);
      if (!warps().empty()) afterFirst.emplace(decoder);
      ps_start_utt(decoder);
      ps_process_raw(decoder, heard.data(), heard.size(), FALSE, FALSE);
      ps_end_utt(decoder);
      second = true;
    }
    std::string words = text(ps_get_hyp(decoder, nullptr));
    // A voice far from the training speakers' may still be heard with its formants moved.
    std::optional<WarpedHearing> warped;
    std::optional<CepstralMean> afterSecond;
    if (second && afterFirst && words.empty() && !state->cancelled) {
      afterSecond.emplace(decoder);
      warped = hearWarped(decoder, heard, *afterFirst, warps());
      if (warped && !text(warped->hypothesis.c_str()).empty()) {
        words = text(warped->hypothesis.c_str());
        // The check reads the grammar's path from the decoder: that of the hearing kept.
        if (checking) decodeCepstra(decoder, warped->cepstra, warped->mean);
      } else {
        warped.reset();
      }
    }
    const bool check = second || costs.verifyFirstPass;
    if (checking && (check || commandScoresObserved()) && !words.empty() && passMean &&
        !heard.empty() && !state->cancelled) {
      // A warped name is held against the loop over the unwarped audio.
      CommandScores scores = scoreAgainstPhoneLoop(decoder, heard, *passMean);
      scores.secondPass = second;
      scores.warped = warped.has_value();
      scores.words = words;
      reportCommandScores(scores);
      if (check && !accepted(scores, threshold())) words.clear();
    }
    // The next command starts from the mean of this one's voice, not from a warp of it.
    if (afterSecond) afterSecond->restore(decoder);
    heard.clear();
    // The final stands in for the utterance's volatile text, so it is sent even when the decoder
    // took every word back; an utterance that showed nothing gives no result at all.
    if (!state->cancelled && (!words.empty() || !lastPartial.empty())) {
      state->results.yield(SpeechResult{words, true});
      if (!words.empty()) spokeBefore = true;
    }
    lastPartial.clear();
    inUtterance = false;
  };

  if (checking) passMean.emplace(decoder);
  ps_start_utt(decoder);
  while (auto item = input.pop()) {
    if (state->cancelled) break;
    const PcmBufferRef& buffer = item->buffer;
    if (!buffer || buffer->frameLength() == 0) continue;
    const std::size_t frames = buffer->frameLength();
    const bool keep = grammar && (checking || costs.secondPass != GrammarCosts::SecondPass::never);
    pcm.resize(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
      const float v = std::clamp(buffer->sample(i, 0), -1.0f, 1.0f) * 32767.0f;
      const float u = dither(noise);
      auto sample = [&](float level) {
        return static_cast<std::int16_t>(
            std::lrintf(std::clamp(v + u * level, -32767.0f, 32767.0f)));
      };
      pcm[i] = sample(firstDither);
      if (keep) heard.push_back(sample(laterDither));
    }
    if (ps_process_raw(decoder, pcm.data(), frames, FALSE, FALSE) < 0) {
      failure = std::make_exception_ptr(sphinxError(SphinxError::audioNotProcessed,
                                                    "The recognizer could not process the audio."));
      break;
    }
    const bool speech = ps_get_in_speech(decoder) != 0;
    if (speech && !inUtterance) inUtterance = true;
    if (!speech && inUtterance && !grammar) {
      closeUtterance();
      ps_start_utt(decoder);
    } else if (inUtterance && partials) {
      std::string words = text(ps_get_hyp(decoder, nullptr));
      if (!words.empty() && words != lastPartial) {
        lastPartial = words;
        state->results.yield(SpeechResult{words, false});
      }
    }
  }
  if (inUtterance && !failure && !state->cancelled)
    closeUtterance();
  else
    ps_end_utt(decoder);
  state->giveBack(decoder);
  state->end(failure);
}

class PocketSphinxAnalyzer final : public SpeechAnalyzer {
 public:
  PocketSphinxAnalyzer(std::shared_ptr<DecoderPool> pool, bool partials,
                       std::optional<AppVocabulary> vocabulary, GrammarWords words)
      : state_(std::make_shared<AnalysisState>()),
        partials_(partials),
        vocabulary_(std::move(vocabulary)),
        words_(words) {
    state_->pool = std::move(pool);
    state_->kind = vocabulary_ ? DecoderKind::grammar : DecoderKind::general;
  }

  // An analyzer nobody holds any more gives its decoder back rather than wait for input forever.
  ~PocketSphinxAnalyzer() override { cancelAndFinishNow(); }
  PocketSphinxAnalyzer(const PocketSphinxAnalyzer&) = delete;
  PocketSphinxAnalyzer& operator=(const PocketSphinxAnalyzer&) = delete;

  AsyncStream<SpeechResult> results() override { return state_->results; }
  std::exception_ptr failure() const override {
    std::lock_guard guard(state_->lock);
    return state_->error;
  }

  void start(AnalyzerInputStream input) override {
    {
      std::lock_guard guard(state_->lock);
      if (state_->started || state_->done)
        throw sphinxError(SphinxError::alreadyStarted, "The analyzer has already started.");
      // A stopped analyzer stays stopped: it would otherwise hold a decoder on a stream that
      // nobody may ever finish.
      if (state_->cancelled)
        throw sphinxError(SphinxError::stopped, "The analyzer has been stopped.");
      state_->started = true;
    }
    // Claimed here, in the order of the starts; the worker waits for it, never the caller (the
    // main loop). Normally one is idle or promised back.
    std::future<ps_decoder_t*> claim;
    try {
      claim = state_->pool->acquire(state_->kind);
    } catch (...) {
      state_->end(std::current_exception());
      throw;
    }
    bool cancelled = false;
    {
      std::lock_guard guard(state_->lock);
      state_->input = input;
      state_->holding = true;
      cancelled = state_->cancelled;
      if (cancelled) promiseBack();
    }
    if (cancelled) input.finish();  // a cancel that came during the claim found no input to end
    std::thread(analyse, state_, std::move(input), std::move(claim), partials_, vocabulary_, words_)
        .detach();
  }

  void finalizeAndFinishThroughEndOfInput() override {
    std::unique_lock guard(state_->lock);
    if (!state_->started) {
      guard.unlock();
      state_->end(nullptr);
      return;
    }
    state_->changed.wait(guard, [&] { return state_->done; });
    if (state_->error) std::rethrow_exception(state_->error);
  }

  void cancelAndFinishNow() override {
    state_->cancelled = true;
    std::optional<AnalyzerInputStream> input;
    {
      std::lock_guard guard(state_->lock);
      input = state_->input;
      promiseBack();
    }
    if (input) input->finish();  // wakes the worker
    state_->results.finish();
  }

 private:
  // With the state's lock held: a cancelled worker stops after the buffer in hand and closes its
  // utterance without a result, so the next analysis may count on its decoder.
  void promiseBack() {
    if (!state_->holding || state_->promised) return;
    state_->promised = true;
    state_->pool->promise(state_->kind);
  }

  std::shared_ptr<AnalysisState> state_;
  bool partials_;
  std::optional<AppVocabulary> vocabulary_;
  GrammarWords words_;
};

}  // namespace

std::shared_ptr<SpeechAnalyzer> makeSphinxAnalyzer(std::shared_ptr<DecoderPool> pool, bool partials,
                                                   std::optional<AppVocabulary> vocabulary,
                                                   GrammarWords words) {
  return std::make_shared<PocketSphinxAnalyzer>(std::move(pool), partials, std::move(vocabulary),
                                                words);
}

}  // namespace earshot::linux_platform
