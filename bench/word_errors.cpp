// Word errors of a hypothesis against a reference: prints "<errors> <reference words>".
// Case and punctuation are ignored.
#include <iostream>

#include "WordErrors.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: bench_word_errors <reference> <hypothesis>\n";
    return 2;
  }
  std::cout << earshot::bench::wordErrors(argv[1], argv[2]) << ' '
            << earshot::bench::words(argv[1]).size() << '\n';
}
