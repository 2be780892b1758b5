#include <upload/photo_number.hpp>

#include <platform/host/error.hpp>
#include <platform/host/variant.hpp>

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

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// A name the FTP server resolves inside the company folder: relative, with no
// empty, "." or ".." segment (backslashes count as separators, as they do on
// Windows servers), and no control character but tab, which would end or
// split an FTP command.
bool staysInCompanyFolder(std::string_view name) {
  if (name.empty() || isSeparator(name.front())) return false;
  const bool hasControl = std::any_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7f;
  });
  if (hasControl) return false;
  std::size_t start = 0;
  for (;;) {
    const auto end = std::find_if(name.begin() + static_cast<std::ptrdiff_t>(start), name.end(), isSeparator);
    const std::string_view segment = name.substr(start, static_cast<std::size_t>(end - name.begin()) - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (end == name.end()) return true;
    start = static_cast<std::size_t>(end - name.begin()) + 1;
  }
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
    answer.photoNumber = host::toInt32(host::parseNumber(fields[0]));
  } catch (const Error&) {
    return std::nullopt;
  }
  answer.remoteName = std::string(trimSpaces(fields[1])) + std::string(trimSpaces(fields[2])) +
                      std::to_string(answer.photoNumber) + ".jpg";
  if (!staysInCompanyFolder(answer.remoteName)) return std::nullopt;
  return answer;
}

}  // namespace kiv::upload
