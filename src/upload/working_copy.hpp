#pragma once

#include <filesystem>

namespace kiv::upload {

// A private copy of a photo in a fresh folder under the system's temporary
// directory, removed with its folder when the owner goes. kiv::Error (53, 70,
// 61...) when the photo cannot be read or the copy cannot be written.
class WorkingCopy {
 public:
  explicit WorkingCopy(const std::filesystem::path& original);
  ~WorkingCopy();
  WorkingCopy(const WorkingCopy&) = delete;
  WorkingCopy& operator=(const WorkingCopy&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path path_;
};

}  // namespace kiv::upload
