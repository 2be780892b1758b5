#include <upload/photo_transfer.hpp>

#include <platform/host/error.hpp>
#include <platform/host/variant.hpp>
#include <platform/imaging/imaging.hpp>
#include <upload/photo_number.hpp>

#include <array>
#include <chrono>
#include <thread>

namespace kiv::upload {
namespace {

constexpr const char* kAgent = "KIV";
constexpr std::size_t kReadSize = 1024;

void readToEnd(net::Request& request, std::string* body) {
  std::array<char, kReadSize> buffer;
  for (;;) {
    const std::size_t delivered = request.read(buffer.data(), buffer.size());
    if (delivered == 0) break;
    if (body) body->append(buffer.data(), delivered);
  }
}

// Best effort: the photo is stored whatever the web server says to this.
void notifyPrimary(const TransferSettings& settings, net::Session& session, std::int32_t photoNumber) {
  const std::string url = settings.web + "/RLQNew/Web/Photo/PhotoSetWebPrimary.aspx?VID=" + settings.vehicleId +
                          "&CID=" + settings.companyId + "&Primary=" + (settings.primary ? "1" : "0") +
                          "&PID=" + std::to_string(photoNumber);
  if (std::unique_ptr<net::Request> request = session.openUrl(url)) readToEnd(*request, nullptr);
}

}  // namespace

Connections::Connections(const TransferSettings& settings) : settings_(settings), web_(kAgent) {}

net::FtpConnection& Connections::ftp() {
  if (!ftp_) ftp_ = web_.connectFtp(settings_.ftp, settings_.user, settings_.password);
  return *ftp_;
}

TransferOutcome transferPhoto(const TransferSettings& settings, const std::string& path,
                              const std::string& photoFolder, TransferSink& sink, std::string& answer) {
  Connections connections(settings);
  return transferPhoto(settings, connections, path, photoFolder, sink, answer);
}

namespace {

// The reduction the control's settings ask for, rendered from the open photo.
// Nothing when it could not be read or reduced.
std::optional<std::string> reducedPicture(const fs::PhotoFile& photo, std::int16_t width, std::int16_t height) {
  try {
    imaging::ImageEditor editor;
    editor.LoadPicture(photo);
    const auto [newWidth, newHeight] = fittedSize(host::toInt16(editor.PictureWidth()),
                                                  host::toInt16(editor.PictureHeight()), width, height);
    editor.ResizePicture(newWidth, newHeight);
    return editor.RenderPicture();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Cut short, and changed (grown, rewritten or replaced) a moment later.
bool stillBeingWritten(const fs::PhotoFile& photo, const std::string& photoFolder) {
  if (!imaging::EndsBeforeJpegEnd(photo)) return false;
  std::this_thread::sleep_for(std::chrono::seconds(kStillWritingSeconds));
  try {
    photo.checkUnchanged();
    return !(fs::PhotoFile(photo.path(), photoFolder).opened() == photo.opened());
  } catch (const Error&) {
    return true;
  }
}

}  // namespace

PreparedPhoto preparePhoto(const std::string& path, const std::string& photoFolder,
                           std::pair<std::int16_t, std::int16_t> reduceTo) {
  PreparedPhoto prepared;
  prepared.path = path;
  try {
    const fs::PhotoFile photo(path, photoFolder);
    if (std::optional<std::string> reduced = reducedPicture(photo, reduceTo.first, reduceTo.second)) {
      prepared.copy = std::make_unique<fs::WorkingCopy>(photo, *reduced);
      prepared.reduced = true;
    } else if (stillBeingWritten(photo, photoFolder)) {
      prepared.keptBecause = "it is still being written; it is left for the next upload";
    } else {
      prepared.copy = std::make_unique<fs::WorkingCopy>(photo);
    }
  } catch (const Error&) {
    prepared.copy.reset();
  }
  return prepared;
}

TransferOutcome transferPhoto(const TransferSettings& settings, Connections& connections, const std::string& path,
                              const std::string& photoFolder, TransferSink& sink, std::string& answer) {
  // Prepared first, so a photo that is gone or still being written costs no number.
  PreparedPhoto prepared = preparePhoto(path, photoFolder, {settings.width, settings.height});
  return transferPrepared(settings, connections, prepared, sink, answer);
}

TransferOutcome transferPrepared(const TransferSettings& settings, Connections& connections, PreparedPhoto& prepared,
                                 TransferSink& sink, std::string& answer) {
  answer.clear();
  std::unique_ptr<fs::WorkingCopy> copy = std::move(prepared.copy);
  if (!copy) {
    if (prepared.keptBecause.empty())
      sink.communicationError();
    else
      sink.photoKept(prepared.path, prepared.keptBecause);
    return {};
  }

  net::Session& session = connections.web();
  std::unique_ptr<net::Request> request = session.openUrl(settings.web + "/capture/VBstorePhoto.asp?VID=" +
                                                          settings.vehicleId);
  if (request) readToEnd(*request, &answer);

  // Without a usable answer there is no name to store the photo under.
  const auto number = request && request->succeeded() ? parsePhotoNumberAnswer(answer) : std::nullopt;
  if (!number) {
    sink.photoKept(prepared.path, !request ? "the web server did not answer"
                                  : !request->succeeded()
                                      ? "the web server answered with status " + std::to_string(request->status())
                                      : std::string("the web server's answer held no photo number"));
    sink.communicationError();
    return {};
  }
  if (connections.storedNames().count(number->remoteName) != 0) {
    sink.photoKept(prepared.path, "the web server gave photo number " + std::to_string(number->photoNumber) +
                                      " a second time; the photo sent under it is not overwritten");
    sink.communicationError();
    return {};
  }

  const std::string& workingFile = copy->path();
  sink.caption("Resizing photo");
  sink.caption(prepared.reduced ? "Uploading photo" : "Resize Failed. Uploading Image");

  net::FtpConnection& ftp = connections.ftp();
  const std::string companyFolder = "/" + settings.companyId;
  if (!ftp.setCurrentDirectory(companyFolder)) {
    ftp.createDirectory(settings.companyId);
    ftp.setCurrentDirectory(companyFolder);
  }
  TransferOutcome outcome;
  outcome.stored = ftp.putFile(workingFile, number->remoteName);
  outcome.loginRefused = ftp.loginRefused();
  outcome.unreachable = ftp.unreachable();
  outcome.sent = copy->original();

  request.reset();
  copy.reset();
  sink.pointerReleased();

  if (!outcome.stored) {
    sink.photoKept(prepared.path, ftp.trouble());
    sink.communicationError();
    return outcome;
  }
  connections.storedNames().insert(number->remoteName);
  if (settings.prefered) notifyPrimary(settings, session, number->photoNumber);
  return outcome;
}

std::pair<std::int16_t, std::int16_t> fittedSize(std::int16_t pictureWidth, std::int16_t pictureHeight,
                                                 std::int16_t width, std::int16_t height) {
  if (pictureWidth > width) {
    pictureHeight = host::toInt16(static_cast<double>(width) / pictureWidth * pictureHeight);
    pictureWidth = width;
  }
  if (pictureHeight > height) {
    pictureWidth = host::toInt16(static_cast<double>(height) / pictureHeight * pictureWidth);
    pictureHeight = height;
  }
  return {pictureWidth, pictureHeight};
}

bool reducePicture(const std::string& file, std::int16_t width, std::int16_t height) {
  try {
    imaging::ImageEditor editor;
    editor.LoadPicture(file);
    const auto [newWidth, newHeight] =
        fittedSize(host::toInt16(editor.PictureWidth()), host::toInt16(editor.PictureHeight()), width, height);
    editor.ResizePicture(newWidth, newHeight);
    editor.SavePicture(file);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kiv::upload
