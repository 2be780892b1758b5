#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kiv::upload {

// What the web server answers to a photo-number request: "number|piece|piece"
// with any further fields ignored.
struct PhotoNumberAnswer {
  std::int32_t photoNumber = 0;
  std::string remoteName;  // piece 1 + piece 2 (spaces trimmed) + number + ".jpg"
};

// Nothing when the answer cannot name a file safely: fewer than three fields, a
// first field that is no 32-bit number, or a remote name that would leave the
// company folder (absolute, or with an empty, "." or ".." segment) or holds a
// control character other than tab. A name with "/" may reach into an existing
// subfolder.
std::optional<PhotoNumberAnswer> parsePhotoNumberAnswer(std::string_view body);

}  // namespace kiv::upload
