#include <upload/photo_number.hpp>

#include <platform/host/error.hpp>
#include <platform/host/variant.hpp>
#include <platform/internet/internet.hpp>

#include <cmath>

#include <algorithm>
#include <vector>

namespace kiv::upload {
namespace {

// Spaces only: a tab or line break at the edge is part of the piece.
std::string_view trimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<PhotoNumberAnswer> parsePhotoNumberAnswer(std::string_view body) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = body.find('|', start);
    fields.push_back(body.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    if (bar == std::string_view::npos || fields.size() == 3) break;
    start = bar + 1;
  }
  if (fields.size() < 3) return std::nullopt;

  PhotoNumberAnswer answer;
  try {
    // "1.5" would be rounded to a number another photo may get too.
    const double number = host::parseNumber(fields[0]);
    if (number != std::floor(number)) return std::nullopt;
    answer.photoNumber = host::toInt32(number);
  } catch (const Error&) {
    return std::nullopt;
  }
  answer.remoteName = std::string(trimSpaces(fields[1])) + std::string(trimSpaces(fields[2])) +
                      std::to_string(answer.photoNumber) + ".jpg";
  if (!net::staysInFolder(answer.remoteName)) return std::nullopt;
  return answer;
}

}  // namespace kiv::upload
