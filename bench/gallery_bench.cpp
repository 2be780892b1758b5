// Showing a gallery of camera photos, timed as a host sees it: once per process.
//
//   gallery_bench --make-photo FILE WIDTH HEIGHT [DETAIL_SEED]
//                                                  writes a photo-like test JPEG
//   gallery_bench FOLDER [LAUNCHED_NS]             shows the folder, then decodes
//                                                  every thumbnail on all cores
//
// LAUNCHED_NS is CLOCK_MONOTONIC (steady_clock) in nanoseconds when the caller
// started the process, so the times include start-up; without it they count from
// main(). Prints "show_ms", "decoded_ms", "photos", "threads" and "peak_mib" lines.
#include <control/upload.hpp>
#include <platform/host/site.hpp>
#include <platform/imaging/imaging.hpp>

#include "bench_photo.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A container that draws nothing; LoadPicture is the default, display-size one.
class QuietSite final : public kiv::host::Site {
 public:
  void Refresh() override {}
  void PropertyChanged(std::string_view) override {}
  void RaiseEvent(std::string_view) override {}
  std::int16_t MsgBox(std::string_view, std::int16_t, std::string_view) override { return 1; }
};

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Every thumbnail decoded once, several at a time, as a host does on first drawing.
void decodeAll(const std::vector<kiv::host::PictureRef>& pictures, unsigned threads) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> empty{0};
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (std::size_t i = next++; i < pictures.size(); i = next++) {
        const kiv::host::Bitmap& bitmap = pictures[i]->bitmap();
        if (bitmap.rgba.empty() || std::max(bitmap.width, bitmap.height) > 2 * kiv::imaging::DisplayBox) ++empty;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  if (empty > 0) throw std::runtime_error(std::to_string(empty.load()) + " thumbnails were not decoded at display size");
}

int showGallery(const std::string& folder, Clock::time_point launched) {
  QuietSite site;
  kiv::Upload upload(site);
  upload.Initialize();
  upload.InitProperties();
  upload.FullPath(folder);
  upload.Show();
  const double shown = millisecondsSince(launched);

  std::vector<kiv::host::PictureRef> pictures;
  for (std::int16_t i = 0; i < upload.Image2.Count(); ++i) {
    if (upload.Image2[i].Visible && upload.Image2[i].Picture) pictures.push_back(upload.Image2[i].Picture);
  }
  if (pictures.empty()) throw std::runtime_error("no thumbnails in " + folder);
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  decodeAll(pictures, threads);
  const double decoded = millisecondsSince(launched);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("photos %zu\nthreads %u\nshow_ms %.1f\ndecoded_ms %.1f\npeak_mib %.1f\n", pictures.size(), threads,
              shown, decoded, usage.ru_maxrss / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Clock::time_point launched = Clock::now();
  try {
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "--make-photo") == 0) {
      kiv::bench::makePhoto(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argc == 6 ? std::atoi(argv[5]) : 0);
      return 0;
    }
    if (argc == 2 || argc == 3) {
      if (argc == 3) launched = Clock::time_point(std::chrono::nanoseconds(std::stoll(argv[2])));
      return showGallery(argv[1], launched);
    }
    std::fprintf(stderr, "usage: gallery_bench FOLDER [LAUNCHED_NS] | --make-photo FILE WIDTH HEIGHT [DETAIL_SEED]\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gallery_bench: %s\n", e.what());
    return 1;
  }
}
