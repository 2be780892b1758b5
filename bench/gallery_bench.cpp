// Showing a gallery of camera photos, timed as a host sees it: once per process.
//
//   gallery_bench --make-photo FILE WIDTH HEIGHT [DETAIL_SEED]
//                                                  writes a photo-like test JPEG
//   gallery_bench FOLDER [LAUNCHED_NS]             shows the folder, then decodes
//                                                  every thumbnail on all cores
//
// Each thumbnail is decoded as a host draws it, for its grid cell in pixels
// (bitmapFor), and the enlarged view at full quality (bitmap()).
// LAUNCHED_NS is CLOCK_MONOTONIC (steady_clock) in nanoseconds when the caller
// started the process, so the times include start-up; without it they count from
// main(). Prints "show_ms", "decoded_ms", "photos", "threads", "cell",
// "thumbnail" (the first one's decoded size) and "peak_mib" lines.
#include <control/upload.hpp>
#include <platform/host/site.hpp>
#include <platform/imaging/imaging.hpp>

#include "bench_photo.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
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

// What a host draws: a picture for a box of device pixels, or at full quality
// (no box).
struct Drawing {
  kiv::host::PictureRef picture;
  int width = 0;
  int height = 0;
  const kiv::host::Bitmap& bitmap() const {
    return width > 0 ? picture->bitmapFor(width, height) : picture->bitmap();
  }
};

// Everything shown decoded once, several at a time, as a host does on first drawing.
void decodeAll(const std::vector<Drawing>& drawings, unsigned threads) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> empty{0};
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (std::size_t i = next++; i < drawings.size(); i = next++) {
        const kiv::host::Bitmap& bitmap = drawings[i].bitmap();
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

  // The grid's cells sit in Frame1, whose children are measured in twips.
  std::vector<Drawing> drawings;
  for (std::int16_t i = 0; i < upload.Image2.Count(); ++i) {
    const kiv::host::Image& cell = upload.Image2[i];
    if (!cell.Visible || !cell.Picture) continue;
    drawings.push_back({cell.Picture, static_cast<int>(std::lround(cell.Width / kiv::host::scale::TwipsPerPixel)),
                        static_cast<int>(std::lround(cell.Height / kiv::host::scale::TwipsPerPixel))});
  }
  if (drawings.empty()) throw std::runtime_error("no thumbnails in " + folder);
  const std::size_t photos = drawings.size();
  if (upload.imgZoom.Picture) drawings.push_back({upload.imgZoom.Picture, 0, 0});
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  decodeAll(drawings, threads);
  const double decoded = millisecondsSince(launched);

  const kiv::host::Bitmap& first = drawings.front().bitmap();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("photos %zu\nthreads %u\ncell %dx%d\nthumbnail %dx%d\nshow_ms %.1f\ndecoded_ms %.1f\npeak_mib %.1f\n",
              photos, threads, drawings.front().width, drawings.front().height, first.width, first.height, shown,
              decoded, usage.ru_maxrss / 1024.0);
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
