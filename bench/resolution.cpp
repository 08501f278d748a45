// One resolution over a scanned catalog of 2,000 bundles and 500 desktop entries.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "CatalogFixture.hpp"
#include "catalog/AppCatalog.hpp"
#include "support/AppFixtures.hpp"

namespace {

using earshot::AppCatalog;

const AppCatalog& catalog() {
  static earshot::testing::TemporaryFolder root;
  static const AppCatalog scanned = [] {
    earshot::bench::makeCatalog(root.path());
    earshot::testing::FixtureWorkspace workspace(root.path() + "/sys", root.path() + "/home");
    earshot::bench::addDesktopEntries(workspace);
    return AppCatalog::scan(workspace);
  }();
  return scanned;
}

void resolve(benchmark::State& state, const char* text) {
  const AppCatalog& apps = catalog();
  for (auto _ : state) {
    auto found = apps.app(text);
    benchmark::DoNotOptimize(found);
  }
  state.counters["entries"] = static_cast<double>(apps.entries.size());
}

// A query of `count` characters made by repeating `unit` (whole characters).
const char* longQuery(const std::string& unit, std::size_t unitCharacters, std::size_t count) {
  static std::vector<std::unique_ptr<std::string>> kept;
  auto text = std::make_unique<std::string>();
  for (std::size_t n = 0; n + unitCharacters <= count; n += unitCharacters) text->append(unit);
  kept.push_back(std::move(text));
  return kept.back()->c_str();
}

}  // namespace

// Long dictated queries: 10,000 characters, Japanese and ASCII.
BENCHMARK_CAPTURE(resolve, long_japanese_10000,
                  longQuery("\u30a2\u30d7\u30ea\u3092\u958b\u3044\u3066\u306d", 8, 10000))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(resolve, long_ascii_10000, longQuery("openapp ", 8, 10000))
    ->Unit(benchmark::kMillisecond);
// A near miss that only the edit distance takes: every name is measured against it.
BENCHMARK_CAPTURE(resolve, near_miss, "quantum studio 1000x")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(resolve, exact_name, "Pixel Mail 1003")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(resolve, nickname, "o navegador")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(resolve, nothing, "zzzzzzzzzz")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
