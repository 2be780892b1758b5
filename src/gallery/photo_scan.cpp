#include <gallery/photo_scan.hpp>

#include <platform/host/text.hpp>

#include <algorithm>
#include <array>

namespace kiv::gallery {

bool isPhotoName(std::string_view name) {
  const std::string ending = text::lower(name.size() < 3 ? name : name.substr(name.size() - 3));
  static constexpr std::array<const char*, 4> endings = {"jpg", "jpe", "peg", "bmp"};
  return std::find(endings.begin(), endings.end(), ending) != endings.end();
}

PhotoScan scanPhotoFolder(fs::FileSystemObject& fileSystem, const std::string& folder) {
  PhotoScan scan;
  if (!fileSystem.FolderExists(folder)) return scan;

  scan.folder = fileSystem.GetFolder(folder);
  for (const fs::File& file : scan.folder->Files()) {
    scan.lastFile = std::make_shared<fs::File>(file);
    if (isPhotoName(file.Name())) scan.photos.push_back(fileSystem.BuildPath(folder, file.Name()));
  }
  scan.subFolders = std::make_shared<fs::Folders>(scan.folder->SubFolders());
  for (const fs::Folder& subFolder : *scan.subFolders) {
    scan.lastSubFolder = std::make_shared<fs::Folder>(subFolder);
    const std::string subFolderPath = fileSystem.BuildPath(folder, subFolder.Name());
    for (const fs::File& file : subFolder.Files()) {
      scan.lastFile = std::make_shared<fs::File>(file);
      if (isPhotoName(file.Name())) scan.photos.push_back(fileSystem.BuildPath(subFolderPath, file.Name()));
    }
  }
  return scan;
}

}  // namespace kiv::gallery
