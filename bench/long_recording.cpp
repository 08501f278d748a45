// Writes a long WAV for the file-mode memory benchmark, so that no big file is kept in the tree:
//   long_recording silence <minutes> <rate> <channels> <out.wav>
//   long_recording speech <minutes> <out.wav> <recording.wav>...   (recordings repeated in turn)
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int fail(const std::string& what) {
  std::fprintf(stderr, "long_recording: %s\n", what.c_str());
  return 1;
}

SNDFILE* create(const char* path, int rate, int channels) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  return sf_open(path, SFM_WRITE, &info);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc > 1 ? argv[1] : "";
  if (kind == "silence" && argc == 6) {
    const double minutes = std::atof(argv[2]);
    const int rate = std::atoi(argv[3]), channels = std::atoi(argv[4]);
    SNDFILE* out = create(argv[5], rate, channels);
    if (!out) return fail(sf_strerror(nullptr));
    std::vector<float> block(static_cast<std::size_t>(rate) * channels, 0.0f);
    for (long s = 0; s < static_cast<long>(minutes * 60); ++s)
      sf_writef_float(out, block.data(), rate);
    sf_close(out);
    return 0;
  }
  if (kind == "speech" && argc >= 5) {
    const double minutes = std::atof(argv[2]);
    SNDFILE* out = nullptr;
    sf_count_t written = 0, goal = 0;
    for (int i = 4; goal == 0 || written < goal; i = i + 1 < argc ? i + 1 : 4) {
      SF_INFO info{};
      SNDFILE* in = sf_open(argv[i], SFM_READ, &info);
      if (!in) return fail(std::string(argv[i]) + ": " + sf_strerror(nullptr));
      if (!out) {
        out = create(argv[3], info.samplerate, info.channels);
        if (!out) return fail(sf_strerror(nullptr));
        goal = static_cast<sf_count_t>(minutes * 60 * info.samplerate);
      }
      std::vector<float> all(static_cast<std::size_t>(info.frames * info.channels));
      const sf_count_t got = sf_readf_float(in, all.data(), info.frames);
      sf_close(in);
      const sf_count_t take = std::min(got, goal - written);
      sf_writef_float(out, all.data(), take);
      written += take;
    }
    sf_close(out);
    return 0;
  }
  return fail(
      "usage: long_recording silence <minutes> <rate> <channels> <out.wav> | "
      "speech <minutes> <out.wav> <recording.wav>...");
}
