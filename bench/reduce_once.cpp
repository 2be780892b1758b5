// One reduction of a photo to fit the control's default box, then exit: the
// Windows (WIC) counterpart of `reduce_bench --once`, which needs no Google
// Benchmark. bench/run-reduce times it under Wine.
//
//   reduce_once PHOTO OUT
#include "reduce_to_fit.hpp"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: reduce_once PHOTO OUT\n");
    return 2;
  }
  try {
    kiv::bench::reduce(argv[1], argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reduce_once: %s\n", e.what());
    return 1;
  }
  return 0;
}
