#pragma once

// Utterance verification of an application command: the grammar's path scored against a free
// phone loop over the same audio. The loop is the best any sequence of the model's phones does,
// so a name that speech really says stays close to it, while a name forced onto other speech falls
// far below it, whatever the voice and room make of both.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ps_decoder_s;

namespace earshot::linux_platform {

// The decoder's live cepstral mean as it stood, so that the same audio is heard again with the
// same features.
class CepstralMean {
 public:
  CepstralMean() = default;
  explicit CepstralMean(ps_decoder_s* decoder);
  void restore(ps_decoder_s* decoder) const;
  // The same mean moved by `by` (one value per coefficient; another length moves nothing).
  CepstralMean shifted(const std::vector<float>& by) const;

 private:
  std::vector<float> mean_, sum_;
  int frames_ = 0;
};

// Acoustic scores (natural log) of one command's two decodes.
struct CommandScores {
  std::string words;  // the grammar's hypothesis
  double grammar = 0;
  int grammarFrames = 0;
  double loop = 0;
  int loopFrames = 0;
  // The same over the frames of speech only, silence and noise left out.
  double grammarSpeech = 0;
  int grammarSpeechFrames = 0;
  double loopSpeech = 0;
  int loopSpeechFrames = 0;
  bool secondPass = false;      // the name came from the pass with the command's own mean
  bool warped = false;          // ... or from one of the warped passes after it
  double loopMilliseconds = 0;  // what the phone loop's decode took
};

// Grammar minus phone loop, per frame of each; nothing when either decode saw no frame.
std::optional<double> perFrameMargin(const CommandScores& scores);
// Whether the name stands at `threshold`; minus infinity accepts every name unheard.
bool accepted(const CommandScores& scores, double threshold);

// Makes the phone loop one of the decoder's searches (once per decoder); the grammar stays the
// search in use. False when the model has no phones to loop over.
bool addPhoneLoop(ps_decoder_s* decoder);

// After a grammar pass over `samples` that began at `mean`: its scores and the phone loop's over
// the same samples from the same mean. The grammar is the decoder's search again afterwards.
CommandScores scoreAgainstPhoneLoop(ps_decoder_s* decoder, const std::vector<std::int16_t>& samples,
                                    const CepstralMean& mean);
// The same where `feed` gives the decoder the command (samples or features) in an utterance.
CommandScores scoreAgainstPhoneLoop(ps_decoder_s* decoder,
                                    const std::function<void(ps_decoder_s*)>& feed,
                                    const CepstralMean& mean);

// For benchmarks: every command's scores, from the analyzer's thread; the phone loop is then
// decoded even when no threshold is set.
void observeCommandScores(std::function<void(const CommandScores&)> observer);
bool commandScoresObserved();
void reportCommandScores(const CommandScores& scores);

}  // namespace earshot::linux_platform
