// Reduction of one camera photo to fit the control's default box, in process.
//
//   reduce_bench --make-photo FILE WIDTH HEIGHT   writes a photo-like test JPEG
//   reduce_bench --once PHOTO OUT                 one reduction, then exit
//   KIV_BENCH_PHOTO=PHOTO reduce_bench [benchmark flags]
#include <platform/imaging/imaging.hpp>

#include "bench_photo.hpp"
#include "reduce_to_fit.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using kiv::bench::reduce;

std::string benchPhoto() {
  const char* photo = std::getenv("KIV_BENCH_PHOTO");
  if (!photo || !*photo) throw std::runtime_error("set KIV_BENCH_PHOTO to the photo to reduce");
  return photo;
}

void BM_ReduceCameraPhotoToFit(benchmark::State& state) {
  const std::string photo = benchPhoto();
  const std::string out = (std::filesystem::temp_directory_path() / "kiv-reduce-bench.jpg").string();
  for (auto _ : state) reduce(photo, out);
  std::filesystem::remove(out);
}
BENCHMARK(BM_ReduceCameraPhotoToFit)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 5 && std::strcmp(argv[1], "--make-photo") == 0) {
      kiv::bench::makePhoto(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
      return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--once") == 0) {
      reduce(argv[2], argv[3]);
      return 0;
    }
    const std::string photo = benchPhoto();
    // Starts the imaging library and warms the file cache outside the timings.
    const std::string warm = (std::filesystem::temp_directory_path() / "kiv-reduce-warm.jpg").string();
    reduce(photo, warm);
    std::filesystem::remove(warm);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reduce_bench: %s\n", e.what());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
