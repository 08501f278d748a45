#include "platform/linux/PhoneLoopCheck.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/feat.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <mutex>

namespace earshot::linux_platform {

namespace {

constexpr const char* loopName = "earshot-phone-loop";

std::mutex& observerLock() {
  static std::mutex lock;
  return lock;
}
std::function<void(const CommandScores&)>& observer() {
  static std::function<void(const CommandScores&)> function;
  return function;
}

bool hasSearch(ps_decoder_t* decoder, const std::string& name) {
  bool found = false;
  ps_search_iter_t* search = ps_search_iter(decoder);
  for (; search; search = ps_search_iter_next(search))
    if (name == ps_search_iter_val(search)) found = true;
  ps_search_iter_free(search);
  return found;
}

// Senone scores are kept shifted right by this many bits (pocketsphinx's SENSCR_SHIFT), and
// each frame's relative to its best senone.
constexpr int senoneShift = 10;

bool silent(const char* word) {
  const std::string text = word ? word : "";
  return text.empty() || text[0] == '<' || text[0] == '[' || text == "SIL" || text == "+SIL+";
}

// The acoustic score of the decoder's best path, natural log: whole, and over speech only.
struct PathScore {
  double whole = 0, speech = 0;
  int speechFrames = 0;
};
PathScore acousticScore(ps_decoder_t* decoder) {
  PathScore total;
  logmath_t* math = ps_get_logmath(decoder);
  for (ps_seg_t* seg = ps_seg_iter(decoder); seg; seg = ps_seg_next(seg)) {
    int32 acoustic = 0, language = 0, backoff = 0;
    ps_seg_prob(seg, &acoustic, &language, &backoff);
    const double score = logmath_log_to_ln(math, acoustic) * (1 << senoneShift);
    total.whole += score;
    if (silent(ps_seg_word(seg))) continue;
    int first = 0, last = 0;
    ps_seg_frames(seg, &first, &last);
    total.speech += score;
    total.speechFrames += last - first + 1;
  }
  return total;
}

}  // namespace

CepstralMean::CepstralMean(ps_decoder_t* decoder) {
  const cmn_t* cmn = ps_get_feat(decoder)->cmn_struct;
  if (!cmn) return;
  mean_.assign(cmn->cmn_mean, cmn->cmn_mean + cmn->veclen);
  sum_.assign(cmn->sum, cmn->sum + cmn->veclen);
  frames_ = cmn->nframe;
}

void CepstralMean::restore(ps_decoder_t* decoder) const {
  cmn_t* cmn = ps_get_feat(decoder)->cmn_struct;
  if (!cmn || mean_.size() != static_cast<std::size_t>(cmn->veclen)) return;
  std::copy(mean_.begin(), mean_.end(), cmn->cmn_mean);
  std::copy(sum_.begin(), sum_.end(), cmn->sum);
  cmn->nframe = frames_;
}

CepstralMean CepstralMean::shifted(const std::vector<float>& by) const {
  CepstralMean moved = *this;
  if (by.size() != mean_.size()) return moved;
  for (std::size_t i = 0; i < by.size(); ++i) {
    moved.mean_[i] += by[i];
    // The live mean is recomputed from the sum: it moves with it.
    moved.sum_[i] += by[i] * static_cast<float>(frames_);
  }
  return moved;
}

std::optional<double> perFrameMargin(const CommandScores& scores) {
  if (scores.grammarFrames <= 0 || scores.loopFrames <= 0) return std::nullopt;
  return scores.grammar / scores.grammarFrames - scores.loop / scores.loopFrames;
}

bool accepted(const CommandScores& scores, double threshold) {
  if (threshold == -std::numeric_limits<double>::infinity()) return true;
  const auto margin = perFrameMargin(scores);
  return margin && *margin >= threshold;
}

bool addPhoneLoop(ps_decoder_t* decoder) {
  if (hasSearch(decoder, loopName)) return true;
  // The model's phone bigrams beside its acoustic model (en-us/en-us-phone.lm.bin), if any:
  // without them every phone follows every other at the same cost.
  const char* acoustic = cmd_ln_str_r(ps_get_config(decoder), "-hmm");
  std::string phones;
  if (acoustic) {
    const std::filesystem::path folder(acoustic);
    const auto candidate = folder.parent_path() / (folder.filename().string() + "-phone.lm.bin");
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) phones = candidate.string();
  }
  const char* current = ps_get_search(decoder);
  const std::string inUse = current ? current : "";
  // Context-independent phones: a loop over the model's triphones, scored by the phone bigrams
  // at every step, takes longer than the command itself.
  cmd_ln_set_boolean_r(ps_get_config(decoder), "-allphone_ci", TRUE);
  const int refused = phones.empty() ? ps_set_allphone(decoder, loopName, nullptr)
                                     : ps_set_allphone_file(decoder, loopName, phones.c_str());
  if (!inUse.empty()) ps_set_search(decoder, inUse.c_str());
  return refused >= 0;
}

CommandScores scoreAgainstPhoneLoop(ps_decoder_t* decoder, const std::vector<std::int16_t>& samples,
                                    const CepstralMean& mean) {
  return scoreAgainstPhoneLoop(
      decoder,
      [&](ps_decoder_t* d) { ps_process_raw(d, samples.data(), samples.size(), FALSE, FALSE); },
      mean);
}

CommandScores scoreAgainstPhoneLoop(ps_decoder_t* decoder,
                                    const std::function<void(ps_decoder_t*)>& feed,
                                    const CepstralMean& mean) {
  CommandScores scores;
  const char* hypothesis = ps_get_hyp(decoder, nullptr);
  scores.words = hypothesis ? hypothesis : "";
  const PathScore grammarPath = acousticScore(decoder);
  scores.grammar = grammarPath.whole;
  scores.grammarSpeech = grammarPath.speech;
  scores.grammarSpeechFrames = grammarPath.speechFrames;
  scores.grammarFrames = ps_get_n_frames(decoder);
  const char* current = ps_get_search(decoder);
  const std::string grammar = current ? current : "";
  if (grammar.empty() || ps_set_search(decoder, loopName) < 0) return scores;
  const auto start = std::chrono::steady_clock::now();
  mean.restore(decoder);
  ps_start_utt(decoder);
  feed(decoder);
  ps_end_utt(decoder);
  const PathScore loopPath = acousticScore(decoder);
  scores.loop = loopPath.whole;
  scores.loopSpeech = loopPath.speech;
  scores.loopSpeechFrames = loopPath.speechFrames;
  scores.loopFrames = ps_get_n_frames(decoder);
  scores.loopMilliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  ps_set_search(decoder, grammar.c_str());
  return scores;
}

void observeCommandScores(std::function<void(const CommandScores&)> function) {
  std::lock_guard guard(observerLock());
  observer() = std::move(function);
}

bool commandScoresObserved() {
  std::lock_guard guard(observerLock());
  return static_cast<bool>(observer());
}

void reportCommandScores(const CommandScores& scores) {
  std::lock_guard guard(observerLock());
  if (observer()) observer()(scores);
}

}  // namespace earshot::linux_platform
