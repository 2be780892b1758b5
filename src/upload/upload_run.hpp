#pragma once

// An upload run: the photos of one command, or of express mode, sent one after
// another with their progress, each deleted once the server holds it.

#include <upload/photo_transfer.hpp>

#include <platform/filesystem/filesystem.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::upload {

// What a run shows and asks while it goes.
class RunSink : public TransferSink {
 public:
  // Repaints the control.
  virtual void repaint() = 0;
  // Asked after each photo: true ends the run there.
  virtual bool stopRequested() = 0;
  // The photo is on the server and was deleted from the folder.
  virtual void photoSent(const std::string& path) = 0;
};

struct RunPhoto {
  std::string path;
  std::int32_t position = 0;  // in the whole list, from 1
};

struct RunFolder {
  std::string path;  // the photo folder the photos were listed from
  // Its subfolders as listed; one left with nothing in it after a photo went
  // is removed. Null: subfolders stay.
  const fs::Folders* subFolders = nullptr;
};

// "Uploading file 2 of 5."
std::string progressSentence(std::int32_t n, std::int32_t m);

// Sends the photos in order, each reported as photo position of total, over one
// web session and one FTP login kept for the whole run. A photo
// is deleted only once the server confirmed it, and only while its path still
// leads to the file that was sent: one replaced or rewritten meanwhile stays
// for the next upload. The photo folder is locked for the run, so a second run
// of it refuses at once. The run ends early after a refused FTP login (every
// further photo would be refused too, each counting toward the account's
// lock-out) or when the sink asks to stop. Returns how many photos were sent.
std::int32_t runUpload(const TransferSettings& settings, fs::FileSystemObject& fileSystem, const RunFolder& folder,
                       const std::vector<RunPhoto>& photos, std::int32_t total, RunSink& sink, std::string& answer);

}  // namespace kiv::upload
