#pragma once

// Hearing a command again with the frequency axis warped (vocal tract length normalisation): a
// voice whose formants sit far above or below the training speakers' is moved towards them. Each
// warp has a front end of its own; the features go to the decoder's search as they are, so no
// model is loaded per warp.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/PhoneLoopCheck.hpp"

struct ps_decoder_s;

namespace earshot::linux_platform {

// Cepstra of one command, as rows of the front end's output size.
class Cepstra {
 public:
  Cepstra() = default;
  Cepstra(std::vector<float> values, int width);
  int frames() const { return width_ > 0 ? static_cast<int>(values_.size()) / width_ : 0; }
  int width() const { return width_; }
  // Per coefficient over every frame; empty when there is no frame.
  std::vector<float> average() const;
  // The rows as the decoder takes them (valid while this object lives unchanged).
  std::vector<float*> rows();

 private:
  std::vector<float> values_;
  int width_ = 0;
};

// The decoder's front end with its frequency axis scaled by `factor` (inverse linear: a factor
// above 1 lowers the formants), over the samples; nothing when the front end refuses the setting.
std::optional<Cepstra> warpedCepstra(ps_decoder_s* decoder,
                                     const std::vector<std::int16_t>& samples, double factor);

// What one warped pass heard.
struct WarpedHearing {
  double factor = 1;
  std::string hypothesis;  // the grammar's words, as the decoder gives them
  double perFrame = 0;     // the path's score per frame, natural log
  Cepstra cepstra;
  CepstralMean mean;  // where the pass began
};

// Hears the samples once per factor, each from `mean` moved by how far the warped cepstra's
// average lies from the unwarped one's, so that every warp starts from the same place in its own
// feature space. Keeps the hearing whose path scores best per frame, garbage included; nothing
// when no factor gave a front end or frames. The decoder holds the last pass's result after.
std::optional<WarpedHearing> hearWarped(ps_decoder_s* decoder,
                                        const std::vector<std::int16_t>& samples,
                                        const CepstralMean& mean,
                                        const std::vector<double>& factors);

// The score per frame (natural log) of the decoder's best path; minus infinity without frames.
double pathScorePerFrame(ps_decoder_s* decoder);

// Gives the decoder the cepstra, inside an utterance.
void feedCepstra(ps_decoder_s* decoder, Cepstra& cepstra);
// Decodes the cepstra from the mean as one utterance with the decoder's current search.
void decodeCepstra(ps_decoder_s* decoder, Cepstra& cepstra, const CepstralMean& mean);

// Gives the decoder the cepstral mean of the samples, as a pass over them would leave it; leaves
// it when the samples make no frame.
void useMeanOf(ps_decoder_s* decoder, const std::vector<std::int16_t>& samples);

}  // namespace earshot::linux_platform
