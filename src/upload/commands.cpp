// The Upload All and Upload Selected Photos commands.
#include <control/upload.hpp>
#include <platform/filesystem/filesystem.hpp>

namespace kiv {

void Upload::imgUploadAll_Click() { uploadList(imgUploadAll, false); }
void Upload::imgSelectedPhotos_Click() { uploadList(imgSelectedPhotos, true); }

// Sends every listed photo, or only the ticked ones, reporting each as its
// position in the whole list. The command's pointer shows the hourglass while it
// runs and the arrow afterwards, also when an error ends it; a host asking to
// stop ends it after the photo in flight. The photo folder
// is locked for the run, so a second run of it refuses at once instead of
// sending the same photos again.
void Upload::uploadList(host::Image& command, bool onlyTicked) {
  command.MousePointer = host::pointer::Hourglass;
  try {
    if (sFiles.array().at(0).empty()) {
      command.MousePointer = host::pointer::Arrow;
      return;
    }
    const fs::FolderLock lock(uploadFolder());
    const host::Variant::Array files = sFiles.array();
    const auto count = static_cast<std::int32_t>(files.size());
    // A repeated showing may leave check boxes beyond the list; they stand for no photo.
    const std::int32_t last = onlyTicked ? std::min<std::int32_t>(chkSelect.Count(), count) - 1 : count - 1;
    for (std::int32_t i = 0; i <= last; ++i) {
      if (onlyTicked && chkSelect[static_cast<std::int16_t>(i)].Value != 1) continue;
      const PhotoOutcome outcome = sendPhoto(files[static_cast<std::size_t>(i)], i + 1, count);
      if (outcome == PhotoOutcome::Sent) removeEmptiedSubFolders();
      if (outcome == PhotoOutcome::LoginRefused || site_.StopRequested()) break;
    }
    site_.Refresh();
  } catch (...) {
    command.MousePointer = host::pointer::Arrow;
    throw;
  }
  command.MousePointer = host::pointer::Arrow;
  site_.RaiseEvent("CloseApp");
}

// The folder the listed photos came from.
std::string Upload::uploadFolder() const { return scannedPath_.empty() ? FullPath() : scannedPath_; }

// A subfolder of the photo folder goes once nothing at all is left in it: a
// folder still holding any file, at any depth, stays. One removed by an earlier
// pass is skipped.
void Upload::removeEmptiedSubFolders() {
  if (!oFolders) return;
  fs::FileSystemObject& fileSystemObject = fileSystem();
  for (const fs::Folder& subFolder : *oFolders) {
    oSubFolder = std::make_shared<fs::Folder>(subFolder);
    const std::string path = fileSystemObject.BuildPath(scannedPath_, oSubFolder->Name());
    // A folder turned into a link since the scan is neither followed nor removed.
    if (!fileSystemObject.FolderExists(path) || fileSystemObject.IsLink(path)) continue;
    if (oSubFolder->Files().Count() == 0 && !oSubFolder->HoldsAnyFile()) {
      fileSystemObject.DeleteFolder(path, false);
    }
  }
}

}  // namespace kiv
