// The capture path per 2048-frame buffer: 48 kHz stereo in, folded, metered and converted to the
// analyzer's 16 kHz, then queued. "realtime" is seconds of audio handled per second of work.
#include <benchmark/benchmark.h>

#include <cmath>

#include "platform/linux/LinuxAudio.hpp"
#include "speech/SpeechInput.hpp"

using namespace earshot;

static void CapturePath(benchmark::State& state) {
  linux_platform::LinuxAudioToolkit audio;
  const auto capture = *AudioFormat::make(48000, 2);
  const auto analyzer = *AudioFormat::make(16000, 1);
  auto shapers = std::make_shared<Shapers>(audio, analyzer);
  std::size_t levels = 0;
  auto sink = std::make_shared<LevelSink>([&](float) { ++levels; });
  AnalyzerInputStream stream(Buffering::newest(600));
  auto tap = SpeechInput::tap(shapers, sink, stream);

  auto buffer = PcmBuffer::make(capture, 2048);
  buffer->setFrameLength(2048);
  for (std::uint32_t i = 0; i < 2048; ++i) {
    buffer->floatChannelData()[0][i] = 0.3f * static_cast<float>(std::sin(i * 0.031));
    buffer->floatChannelData()[1][i] = 0.2f * static_cast<float>(std::sin(i * 0.017));
  }
  std::size_t frames = 0;
  for (auto _ : state) {
    tap(buffer, 0);
    while (auto input = stream.tryPop()) frames += input->buffer->frameLength();
  }
  benchmark::DoNotOptimize(frames);
  state.counters["realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * 2048.0 / 48000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(CapturePath)->MinTime(1.0);

BENCHMARK_MAIN();
