// Event lines per second, from one thread and from four at once, written to /dev/null.
#include "cli/Emit.hpp"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

void emitLines(benchmark::State& state) {
  static const int sink = [] {
    int fd = ::open("/dev/null", O_WRONLY);
    earshot::output().fd = fd;
    return fd;
  }();
  (void)sink;
  const earshot::Payload payload{{"id", 12}, {"text", "abrir o navegador de arquivos"}};
  for (auto _ : state) earshot::emit("partial", payload);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(emitLines)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK_MAIN();
