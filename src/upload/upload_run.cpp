#include <upload/upload_run.hpp>

#include <algorithm>
#include <deque>
#include <future>
#include <thread>

namespace kiv::upload {
namespace {

// A subfolder goes once nothing at all is left in it: a folder still holding
// any file, at any depth, stays. One removed by an earlier pass is skipped, and
// one turned into a link since the scan is neither followed nor removed.
void removeEmptiedSubFolders(fs::FileSystemObject& fileSystem, const RunFolder& folder) {
  if (!folder.subFolders) return;
  for (const fs::Folder& subFolder : *folder.subFolders) {
    const std::string path = fileSystem.BuildPath(folder.path, subFolder.Name());
    if (!fileSystem.FolderExists(path) || fileSystem.IsLink(path)) continue;
    if (subFolder.Files().Count() == 0 && !subFolder.HoldsAnyFile()) fileSystem.DeleteFolder(path, false);
  }
}

}  // namespace

std::string progressSentence(std::int32_t n, std::int32_t m) {
  return "Uploading file " + std::to_string(n) + " of " + std::to_string(m) + ".";
}

std::int32_t runUpload(const TransferSettings& settings, fs::FileSystemObject& fileSystem, const RunFolder& folder,
                       const std::vector<RunPhoto>& photos, std::int32_t total, RunSink& sink, std::string& answer) {
  const fs::FolderLock lock(folder.path);
  Connections connections(settings);

  // While one photo goes over the network, the next ones are read and
  // reduced on the other cores; only a few at a time, whatever the core count
  // (a terminal server has dozens), so memory and threads stay flat. What a
  // stopped or failed run prepared is discarded with the queue.
  const std::size_t ahead = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
  const std::pair<std::int16_t, std::int16_t> size{settings.width, settings.height};
  std::deque<std::future<PreparedPhoto>> queue;
  std::size_t next = 0;
  auto fill = [&] {
    for (; queue.size() < ahead && next < photos.size(); ++next) {
      queue.push_back(std::async(std::launch::async, preparePhoto, photos[next].path, folder.path, size));
    }
  };

  std::int32_t sent = 0;
  for (const RunPhoto& photo : photos) {
    fill();
    PreparedPhoto prepared = queue.front().get();
    queue.pop_front();
    fill();
    const TransferOutcome outcome = transferPrepared(settings, connections, prepared, sink, answer);
    if (outcome.stored) sink.repaint();
    sink.caption(progressSentence(photo.position, total));
    sink.repaint();
    if (outcome.stored && fileSystem.DeleteFileIfUnchanged(photo.path, *outcome.sent, folder.path)) {
      ++sent;
      sink.photoSent(photo.path);
      removeEmptiedSubFolders(fileSystem, folder);
    }
    if (outcome.loginRefused || outcome.unreachable || sink.stopRequested()) break;
  }
  return sent;
}

}  // namespace kiv::upload
