// Finding the photos a camera's files were copied into.
#include <control/upload.hpp>
#include <platform/filesystem/filesystem.hpp>
#include <platform/host/text.hpp>

#include <algorithm>
#include <array>

namespace kiv {
namespace {

// Judged on the last three characters of the name only: "clip.mpeg" and a
// dotless "xjpg" pass, "photo.jpg2" does not.
bool isPhotoName(const std::string& name) {
  const std::string ending = text::lower(name.size() < 3 ? name : name.substr(name.size() - 3));
  static constexpr std::array<const char*, 4> endings = {"jpg", "jpe", "peg", "bmp"};
  return std::find(endings.begin(), endings.end(), ending) != endings.end();
}

}  // namespace

fs::FileSystemObject& Upload::fileSystem() {
  if (!oFs) oFs = std::make_shared<fs::FileSystemObject>();
  return *oFs;
}

// The photos directly in the folder, then those of each immediate subfolder.
// A list without photos holds one empty entry.
host::Variant::Array Upload::ListPhotoFiles(std::string sPath) {
  host::Variant::Array result{""};
  auto append = [&result](std::string path) {
    if (result[0].empty()) {
      result[0] = std::move(path);
    } else {
      result.push_back(std::move(path));
    }
  };

  fs::FileSystemObject& fileSystemObject = fileSystem();
  if (!fileSystemObject.FolderExists(sPath)) return result;

  oFolder = fileSystemObject.GetFolder(sPath);
  for (const fs::File& file : oFolder->Files()) {
    oFile = std::make_shared<fs::File>(file);
    if (isPhotoName(oFile->Name())) append(fileSystemObject.BuildPath(sPath, oFile->Name()));
  }
  oFolders = std::make_shared<fs::Folders>(oFolder->SubFolders());
  for (const fs::Folder& subFolder : *oFolders) {
    oSubFolder = std::make_shared<fs::Folder>(subFolder);
    const std::string subFolderPath = fileSystemObject.BuildPath(sPath, oSubFolder->Name());
    for (const fs::File& file : oSubFolder->Files()) {
      oFile = std::make_shared<fs::File>(file);
      if (isPhotoName(oFile->Name())) append(fileSystemObject.BuildPath(subFolderPath, oFile->Name()));
    }
  }
  scannedPath_ = sPath;
  return result;
}

}  // namespace kiv
