#include "platform/linux/WarpedPasses.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/fe.h>

#include <cstdio>
#include <limits>
#include <memory>

namespace earshot::linux_platform {

namespace {

static_assert(sizeof(mfcc_t) == sizeof(float), "floating-point features");

struct FrontEndFree {
  void operator()(fe_t* fe) const { fe_free(fe); }
};
using FrontEnd = std::unique_ptr<fe_t, FrontEndFree>;

// A front end from the decoder's own settings with the warp set; the decoder's settings are put
// back at once (its own front end read them when it was made and keeps what it read).
FrontEnd warpedFrontEnd(ps_decoder_t* decoder, double factor) {
  cmd_ln_t* config = ps_get_config(decoder);
  const char* type = cmd_ln_str_r(config, "-warp_type");
  const char* params = cmd_ln_str_r(config, "-warp_params");
  const std::string oldType = type ? type : "";
  const std::optional<std::string> oldParams =
      params ? std::optional<std::string>(params) : std::nullopt;
  char factorText[32];
  std::snprintf(factorText, sizeof factorText, "%.4f", factor);
  cmd_ln_set_str_r(config, "-warp_type", "inverse_linear");
  cmd_ln_set_str_r(config, "-warp_params", factorText);
  FrontEnd fe(fe_init_auto_r(config));
  cmd_ln_set_str_r(config, "-warp_type", oldType.empty() ? nullptr : oldType.c_str());
  cmd_ln_set_str_r(config, "-warp_params", oldParams ? oldParams->c_str() : nullptr);
  return fe;
}

}  // namespace

Cepstra::Cepstra(std::vector<float> values, int width)
    : values_(std::move(values)), width_(width) {}

std::vector<float> Cepstra::average() const {
  const int n = frames();
  if (n == 0) return {};
  std::vector<float> sum(static_cast<std::size_t>(width_), 0.0f);
  for (int f = 0; f < n; ++f)
    for (int c = 0; c < width_; ++c) sum[c] += values_[static_cast<std::size_t>(f * width_ + c)];
  for (float& v : sum) v /= static_cast<float>(n);
  return sum;
}

std::vector<float*> Cepstra::rows() {
  std::vector<float*> result;
  for (int f = 0; f < frames(); ++f) result.push_back(values_.data() + f * width_);
  return result;
}

std::optional<Cepstra> warpedCepstra(ps_decoder_t* decoder,
                                     const std::vector<std::int16_t>& samples, double factor) {
  FrontEnd fe = warpedFrontEnd(decoder, factor);
  if (!fe) return std::nullopt;
  const int width = fe_get_output_size(fe.get());
  int shift = 0, length = 0;
  fe_get_input_size(fe.get(), &shift, &length);
  if (width <= 0 || shift <= 0) return std::nullopt;
  // Room for every frame the samples can make, and the one the end of the utterance flushes.
  const std::size_t capacity = samples.size() / static_cast<std::size_t>(shift) + 8;
  std::vector<float> values(capacity * static_cast<std::size_t>(width));
  std::vector<mfcc_t*> rows(capacity);
  for (std::size_t i = 0; i < capacity; ++i) rows[i] = values.data() + i * width;
  fe_start_utt(fe.get());
  const int16* next = samples.data();
  std::size_t left = samples.size();
  std::size_t used = 0;
  while (left > 0 && used < capacity) {
    int32 frames = static_cast<int32>(capacity - used);
    const std::size_t before = left;
    if (fe_process_frames(fe.get(), &next, &left, rows.data() + used, &frames, nullptr) < 0)
      return std::nullopt;
    used += static_cast<std::size_t>(frames);
    if (frames == 0 && left == before) break;
  }
  if (used < capacity) {
    int32 last = 0;
    fe_end_utt(fe.get(), rows[used], &last);
    used += static_cast<std::size_t>(last);
  }
  values.resize(used * static_cast<std::size_t>(width));
  return Cepstra(std::move(values), width);
}

void feedCepstra(ps_decoder_t* decoder, Cepstra& cepstra) {
  std::vector<float*> rows = cepstra.rows();
  if (!rows.empty())
    ps_process_cep(decoder, rows.data(), static_cast<int>(rows.size()), FALSE, FALSE);
}

void decodeCepstra(ps_decoder_t* decoder, Cepstra& cepstra, const CepstralMean& mean) {
  mean.restore(decoder);
  ps_start_utt(decoder);
  feedCepstra(decoder, cepstra);
  ps_end_utt(decoder);
}

double pathScorePerFrame(ps_decoder_t* decoder) {
  int32 score = 0;
  ps_get_hyp(decoder, &score);
  const int frames = ps_get_n_frames(decoder);
  if (frames <= 0) return -std::numeric_limits<double>::infinity();
  return logmath_log_to_ln(ps_get_logmath(decoder), score) / frames;
}

std::optional<WarpedHearing> hearWarped(ps_decoder_t* decoder,
                                        const std::vector<std::int16_t>& samples,
                                        const CepstralMean& mean,
                                        const std::vector<double>& factors) {
  const auto plain = warpedCepstra(decoder, samples, 1.0);
  if (!plain || plain->frames() == 0) return std::nullopt;
  const std::vector<float> plainAverage = plain->average();
  std::optional<WarpedHearing> best;
  for (double factor : factors) {
    auto cepstra = warpedCepstra(decoder, samples, factor);
    if (!cepstra || cepstra->frames() == 0) continue;
    std::vector<float> by = cepstra->average();
    for (std::size_t i = 0; i < by.size() && i < plainAverage.size(); ++i) by[i] -= plainAverage[i];
    WarpedHearing hearing{factor, "", 0, std::move(*cepstra), mean.shifted(by)};
    decodeCepstra(decoder, hearing.cepstra, hearing.mean);
    hearing.perFrame = pathScorePerFrame(decoder);
    const char* words = ps_get_hyp(decoder, nullptr);
    hearing.hypothesis = words ? words : "";
    if (!best || hearing.perFrame > best->perFrame) best = std::move(hearing);
  }
  return best;
}

void useMeanOf(ps_decoder_t* decoder, const std::vector<std::int16_t>& samples) {
  const auto cepstra = warpedCepstra(decoder, samples, 1.0);
  const cmn_t* cmn = ps_get_feat(decoder)->cmn_struct;
  if (!cepstra || cepstra->frames() == 0 || !cmn) return;
  std::vector<float> by = cepstra->average();
  if (by.size() != static_cast<std::size_t>(cmn->veclen)) return;
  for (std::size_t i = 0; i < by.size(); ++i) by[i] -= cmn->cmn_mean[i];
  CepstralMean(decoder).shifted(by).restore(decoder);
}

}  // namespace earshot::linux_platform
