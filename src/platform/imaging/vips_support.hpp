#pragma once

// Internal to the imaging layer: the only place that includes libvips.

#include <vips/vips8>

#include <string>
#include <utility>

namespace kiv::imaging::detail {

// Starts libvips once per process; safe from any thread.
void ensureVips();

// Turns a libvips failure into kiv::Error with the given number, prefixed by what
// was being done. Every call into libvips goes through here.
template <class F>
auto vipsCall(int number, const std::string& what, F&& f) -> decltype(f());

[[noreturn]] void throwVipsError(int number, const std::string& what, const vips::VError& e);

template <class F>
auto vipsCall(int number, const std::string& what, F&& f) -> decltype(f()) {
  try {
    return std::forward<F>(f)();
  } catch (const vips::VError& e) {
    throwVipsError(number, what, e);
  }
}

struct Header {
  int width = 0;   // upright
  int height = 0;  // upright
};

// Checks that the file exists, can be read and holds a JPEG or bitmap picture
// (judged by its first bytes), then reads its header: 53, 70 or 481 otherwise.
Header readHeader(const std::string& path);

}  // namespace kiv::imaging::detail
