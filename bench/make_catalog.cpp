// Writes the generated machine of applications used by scripts/bench.sh.
#include <cstdio>

#include "CatalogFixture.hpp"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::printf("%d files\n", earshot::bench::makeCatalog(argv[1]));
  return 0;
}
