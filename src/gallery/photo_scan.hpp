#pragma once

// Finding the photos a camera's files were copied into.

#include <platform/filesystem/filesystem.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::gallery {

// Judged on the last three characters of the name only: "clip.mpeg" and a
// dotless "xjpg" pass, "photo.jpg2" does not.
bool isPhotoName(std::string_view name);

// What one scan of a photo folder read.
struct PhotoScan {
  // Full paths: the photos directly in the folder, then those of each
  // immediate subfolder, each in listing order.
  std::vector<std::string> photos;
  // The folder and its subfolders as listed; null when the folder is missing.
  std::shared_ptr<fs::Folder> folder;
  std::shared_ptr<fs::Folders> subFolders;
  // The last subfolder and file the scan looked at.
  std::shared_ptr<fs::Folder> lastSubFolder;
  std::shared_ptr<fs::File> lastFile;
};

PhotoScan scanPhotoFolder(fs::FileSystemObject& fileSystem, const std::string& folder);

}  // namespace kiv::gallery
