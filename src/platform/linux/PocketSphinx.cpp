#include "platform/linux/PocketSphinx.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <future>
#include <thread>
#include <vector>

#include "platform/PlatformError.hpp"

namespace earshot::linux_platform {

namespace {

constexpr const char* englishFolder = "/usr/share/pocketsphinx/model/en-us";
constexpr double analyzerRate = 16000;

bool isFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void ignoreMessage(void*, err_lvl_t, const char*, ...) {}

// The locale a requested identifier stands for: "en_US", "en-US" and "en" mean English.
std::string canonical(std::string locale) {
  std::replace(locale.begin(), locale.end(), '-', '_');
  if (locale == "en" || locale == "en_US") return "en_US";
  if (locale == "pt" || locale == "pt_BR") return "pt_BR";
  return locale;
}

}  // namespace

void silenceSphinx() {
  static std::once_flag once;
  std::call_once(once, [] {
    err_set_logfp(nullptr);
    err_set_callback(ignoreMessage, nullptr);
  });
}

// Idle decoders of one language, kept for the process. A reservation loads one in the background;
// the first analyzer that finds none idle claims that load instead of starting another.
class DecoderPool {
 public:
  explicit DecoderPool(SphinxModel model) : model_(std::move(model)) {}

  ps_decoder_t* acquire() {
    std::shared_future<ps_decoder_t*> claimed;
    {
      std::lock_guard guard(lock_);
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
    std::lock_guard guard(lock_);
    idle_.push_back(decoder);
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
  ps_decoder_t* load() {
    silenceSphinx();
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model_.acoustic.c_str(), "-lm",
                    model_.language.c_str(), "-dict", model_.dictionary.c_str(), nullptr);
    if (!config) throw PlatformError("pocketsphinx", 1, "The recognizer's settings were refused.");
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config);
    if (!decoder)
      throw PlatformError("pocketsphinx", 2, "The recognizer's model could not be loaded.");
    std::lock_guard guard(lock_);
    ++made_;
    return decoder;
  }

  SphinxModel model_;
  std::mutex lock_;
  std::vector<ps_decoder_t*> idle_;
  int made_ = 0;
  bool loading_ = false;
  bool loadClaimed_ = false;
  std::promise<ps_decoder_t*> loadPromise_;
  std::shared_future<ps_decoder_t*> loadResult_;
};

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
  std::exception_ptr error;
  std::optional<AnalyzerInputStream> input;

  void end(std::exception_ptr failure) {
    {
      std::lock_guard guard(lock);
      done = true;
      error = std::move(failure);
    }
    results.finish();
    changed.notify_all();
  }
};

// Reads the input on its own thread, one utterance at a time: an utterance ends where the
// decoder's voice activity detection finds silence, as PocketSphinx's own continuous mode does.
void analyse(std::shared_ptr<AnalysisState> state, AnalyzerInputStream input, bool partials) {
  ps_decoder_t* decoder = nullptr;
  try {
    decoder = state->pool->acquire();
  } catch (...) {
    state->end(std::current_exception());
    return;
  }
  std::exception_ptr failure;
  bool spokeBefore = false;  // a later utterance's text begins with a space
  bool inUtterance = false;
  std::string lastPartial;
  std::vector<std::int16_t> pcm;

  auto text = [&](const char* hypothesis) {
    std::string words = hypothesis ? hypothesis : "";
    return spokeBefore && !words.empty() ? " " + words : words;
  };
  auto closeUtterance = [&] {
    ps_end_utt(decoder);
    std::string words = text(ps_get_hyp(decoder, nullptr));
    // The final stands in for the utterance's volatile text, so it is sent even when the decoder
    // took every word back; an utterance that showed nothing gives no result at all.
    if (!state->cancelled && (!words.empty() || !lastPartial.empty())) {
      state->results.yield(SpeechResult{words, true});
      if (!words.empty()) spokeBefore = true;
    }
    lastPartial.clear();
    inUtterance = false;
  };

  ps_start_utt(decoder);
  while (auto item = input.pop()) {
    if (state->cancelled) break;
    const PcmBufferRef& buffer = item->buffer;
    if (!buffer || buffer->frameLength() == 0) continue;
    const std::size_t frames = buffer->frameLength();
    pcm.resize(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
      const float v = std::clamp(buffer->sample(i, 0), -1.0f, 1.0f) * 32767.0f;
      pcm[i] = static_cast<std::int16_t>(std::lrintf(v));
    }
    if (ps_process_raw(decoder, pcm.data(), frames, FALSE, FALSE) < 0) {
      failure = std::make_exception_ptr(
          PlatformError("pocketsphinx", 3, "The recognizer could not process the audio."));
      break;
    }
    const bool speech = ps_get_in_speech(decoder) != 0;
    if (speech && !inUtterance) inUtterance = true;
    if (!speech && inUtterance) {
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
  state->pool->release(decoder);
  state->end(failure);
}

class PocketSphinxAnalyzer final : public SpeechAnalyzer {
 public:
  PocketSphinxAnalyzer(std::shared_ptr<DecoderPool> pool, bool partials)
      : state_(std::make_shared<AnalysisState>()), partials_(partials) {
    state_->pool = std::move(pool);
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
        throw PlatformError("pocketsphinx", 4, "The analyzer has already started.");
      // A stopped analyzer stays stopped: it would otherwise hold a decoder on a stream that
      // nobody may ever finish.
      if (state_->cancelled)
        throw PlatformError("pocketsphinx", 5, "The analyzer has been stopped.");
      state_->started = true;
      state_->input = input;
    }
    std::thread(analyse, state_, std::move(input), partials_).detach();
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
    }
    if (input) input->finish();  // wakes the worker
    state_->results.finish();
  }

 private:
  std::shared_ptr<AnalysisState> state_;
  bool partials_;
};

}  // namespace

PocketSphinxService::PocketSphinxService() : PocketSphinxService(EARSHOT_SPHINX_MODELDIR) {}

PocketSphinxService::PocketSphinxService(std::string modelFolder)
    : modelFolder_(std::move(modelFolder)) {
  silenceSphinx();
}

std::optional<SphinxModel> PocketSphinxService::model(const std::string& locale) const {
  const std::string which = canonical(locale);
  SphinxModel model;
  if (which == "en_US") {
    const std::string folder = englishFolder;
    model = {folder + "/en-us", folder + "/en-us.lm.bin", folder + "/cmudict-en-us.dict"};
  } else if (which == "pt_BR") {
    const std::string folder = modelFolder_ + "/pt-br";
    model = {folder + "/pt-br", folder + "/pt-br.lm.bin", folder + "/pt-br.dict"};
    if (!isFile(model.language)) model.language = folder + "/pt-br.lm";
  } else {
    return std::nullopt;
  }
  if (!isFolder(model.acoustic) || !isFile(model.acoustic + "/mdef") || !isFile(model.language) ||
      !isFile(model.dictionary))
    return std::nullopt;
  return model;
}

std::optional<std::string> PocketSphinxService::supportedLocale(const std::string& requested) {
  if (!model(requested)) return std::nullopt;
  return canonical(requested);
}

std::optional<AudioFormat> PocketSphinxService::bestAvailableAudioFormat(
    const std::vector<SpeechTranscriber>& modules) {
  if (modules.empty() || !model(modules.front().locale)) return std::nullopt;
  return AudioFormat::make(analyzerRate, 1, false);
}

bool PocketSphinxService::reserve(const std::string& locale) {
  auto pool = this->pool(locale);
  if (!pool) return false;
  pool->preload(pool);
  return true;
}

std::unique_ptr<AssetInstallationRequest> PocketSphinxService::assetInstallationRequest(
    const std::vector<SpeechTranscriber>&) {
  return nullptr;  // models come from packages; nothing is ever downloaded
}

std::shared_ptr<SpeechAnalyzer> PocketSphinxService::makeAnalyzer(
    const std::vector<SpeechTranscriber>& modules, SpeechAnalyzer::Options) {
  if (modules.empty()) return nullptr;
  auto pool = this->pool(modules.front().locale);
  if (!pool) return nullptr;
  return std::make_shared<PocketSphinxAnalyzer>(
      pool, modules.front().reports(SpeechTranscriber::Reporting::volatileResults));
}

std::shared_ptr<DecoderPool> PocketSphinxService::pool(const std::string& locale) {
  auto found = model(locale);
  if (!found) return nullptr;
  std::lock_guard guard(lock_);
  auto& pool = pools_[canonical(locale)];
  if (!pool) pool = std::make_shared<DecoderPool>(*found);
  return pool;
}

}  // namespace earshot::linux_platform
