#include <control/artwork.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace kiv::artwork {
namespace {

// A small proportional face: rows 0-6 hold capitals and ascenders, 2-6 the
// lower-case body, 7-8 descenders. '#' is ink.
const std::map<char, std::array<const char*, 9>>& glyphs() {
  static const std::map<char, std::array<const char*, 9>> table = {
      {'C', {".##.", "#..#", "#...", "#...", "#...", "#..#", ".##.", "....", "...."}},
      {'U', {"#..#", "#..#", "#..#", "#..#", "#..#", "#..#", ".##.", "....", "...."}},
      {'A', {".##.", "#..#", "#..#", "####", "#..#", "#..#", "#..#", "....", "...."}},
      {'S', {".###", "#...", "#...", ".##.", "...#", "...#", "###.", "....", "...."}},
      {'P', {"###.", "#..#", "#..#", "###.", "#...", "#...", "#...", "....", "...."}},
      {'a', {"....", "....", ".##.", "...#", ".###", "#..#", ".###", "....", "...."}},
      {'n', {"....", "....", "###.", "#..#", "#..#", "#..#", "#..#", "....", "...."}},
      {'c', {"....", "....", ".###", "#...", "#...", "#...", ".###", "....", "...."}},
      {'e', {"....", "....", ".##.", "#..#", "####", "#...", ".###", "....", "...."}},
      {'l', {"#", "#", "#", "#", "#", "#", "#", ".", "."}},
      {'p', {"....", "....", "###.", "#..#", "#..#", "#..#", "###.", "#...", "#..."}},
      {'o', {"....", "....", ".##.", "#..#", "#..#", "#..#", ".##.", "....", "...."}},
      {'d', {"...#", "...#", ".###", "#..#", "#..#", "#..#", ".###", "....", "...."}},
      {'t', {".#.", ".#.", "###", ".#.", ".#.", ".#.", "..#", "...", "..."}},
      {'h', {"#...", "#...", "###.", "#..#", "#..#", "#..#", "#..#", "....", "...."}},
      {'s', {"....", "....", ".###", "#...", ".##.", "...#", "###.", "....", "...."}},
      {' ', {"..", "..", "..", "..", "..", "..", "..", "..", ".."}},
  };
  return table;
}

constexpr std::uint8_t kInk[4] = {0, 51, 102, 255};
constexpr std::uint8_t kFill[4] = {153, 204, 255, 255};
constexpr int kFaceHeight = 18;

void put(host::Bitmap& bitmap, int x, int y, const std::uint8_t (&colour)[4]) {
  if (x < 0 || y < 0 || x >= bitmap.width || y >= bitmap.height) return;
  std::uint8_t* pixel = &bitmap.rgba[(static_cast<std::size_t>(y) * bitmap.width + x) * 4];
  for (int k = 0; k < 4; ++k) pixel[k] = colour[k];
}

int glyphWidth(char c) {
  auto found = glyphs().find(c);
  return found == glyphs().end() ? 0 : static_cast<int>(std::string(found->second[0]).size());
}

}  // namespace

host::PictureRef buttonFace(std::string_view text, int width) {
  host::Bitmap face{width, kFaceHeight, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * kFaceHeight * 4)};
  for (int y = 0; y < face.height; ++y) {
    for (int x = 0; x < face.width; ++x) {
      const bool border = x == 0 || y == 0 || x == face.width - 1 || y == face.height - 1;
      put(face, x, y, border ? kInk : kFill);
    }
  }
  int textWidth = -1;
  for (char c : text) textWidth += glyphWidth(c) + 1;
  int x = (width - textWidth) / 2;
  const int top = (kFaceHeight - 7) / 2;
  for (char c : text) {
    auto found = glyphs().find(c);
    if (found == glyphs().end()) continue;
    for (int row = 0; row < 9; ++row) {
      const std::string line = found->second[row];
      for (int column = 0; column < static_cast<int>(line.size()); ++column) {
        if (line[column] == '#') put(face, x + column, top + row, kInk);
      }
    }
    x += glyphWidth(c) + 1;
  }
  return std::make_shared<host::BitmapPicture>(std::move(face));
}

host::PictureRef pointingHand() {
  // 'X' outline, '.' fill, ' ' transparent.
  static const char* const shape[] = {
      "       XX",
      "      X..X",
      "      X..X",
      "      X..X",
      "      X..X",
      "      X..XXX",
      "      X..X..XXX",
      "      X..X..X..XX",
      "   XX X..X..X..X.X",
      "  X..XX........X.X",
      "  X...X..........X",
      "   X..X..........X",
      "   X.............X",
      "    X............X",
      "    X...........X",
      "     X..........X",
      "     X.........X",
      "      X........X",
      "      X........X",
      "      XXXXXXXXXX",
  };
  host::Bitmap hand{32, 32, std::vector<std::uint8_t>(32 * 32 * 4, 0)};
  constexpr std::uint8_t black[4] = {0, 0, 0, 255};
  constexpr std::uint8_t white[4] = {255, 255, 255, 255};
  int y = 1;
  for (const char* row : shape) {
    for (int x = 0; row[x] != '\0'; ++x) {
      if (row[x] == 'X') put(hand, x, y, black);
      if (row[x] == '.') put(hand, x, y, white);
    }
    ++y;
  }
  return std::make_shared<host::BitmapPicture>(std::move(hand));
}

}  // namespace kiv::artwork
