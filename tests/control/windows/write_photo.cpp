// Writes a test photo: write_photo <file> <width> <height>.
#include "support/photos.hpp"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kiv_write_photo <file> <width> <height>\n");
    return 2;
  }
  try {
    kiv::test::writeJpeg(argv[1], std::stoi(argv[2]), std::stoi(argv[3]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kiv_write_photo: %s\n", e.what());
    return 1;
  }
  return 0;
}
