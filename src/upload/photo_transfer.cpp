#include <upload/photo_transfer.hpp>

#include <platform/host/error.hpp>
#include <platform/host/variant.hpp>
#include <platform/imaging/imaging.hpp>
#include <upload/photo_number.hpp>

#include <array>

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

PreparedPhoto preparePhoto(const std::string& path, const std::string& photoFolder,
                           std::optional<std::pair<std::int16_t, std::int16_t>> reduceTo) {
  PreparedPhoto prepared;
  try {
    prepared.copy = std::make_unique<fs::WorkingCopy>(path, photoFolder);
  } catch (const Error&) {
    return prepared;
  }
  if (reduceTo) prepared.reduced = reducePicture(prepared.copy->path(), reduceTo->first, reduceTo->second);
  return prepared;
}

TransferOutcome transferPhoto(const TransferSettings& settings, Connections& connections, const std::string& path,
                              const std::string& photoFolder, TransferSink& sink, std::string& answer) {
  // Copying first means a photo that is gone or still being written costs no number.
  PreparedPhoto prepared = preparePhoto(path, photoFolder, std::nullopt);
  return transferPrepared(settings, connections, prepared, sink, answer);
}

TransferOutcome transferPrepared(const TransferSettings& settings, Connections& connections, PreparedPhoto& prepared,
                                 TransferSink& sink, std::string& answer) {
  answer.clear();
  std::unique_ptr<fs::WorkingCopy> copy = std::move(prepared.copy);
  if (!copy) {
    sink.communicationError();
    return {};
  }

  net::Session& session = connections.web();
  std::unique_ptr<net::Request> request = session.openUrl(settings.web + "/capture/VBstorePhoto.asp?VID=" +
                                                          settings.vehicleId);
  if (request) readToEnd(*request, &answer);

  // Without a usable answer there is no name to store the photo under.
  const auto number = request && request->succeeded() ? parsePhotoNumberAnswer(answer) : std::nullopt;
  if (!number) {
    sink.communicationError();
    return {};
  }

  const std::string& workingFile = copy->path();
  sink.caption("Resizing photo");
  const bool reduced =
      prepared.reduced ? *prepared.reduced : reducePicture(workingFile, settings.width, settings.height);
  sink.caption(reduced ? "Uploading photo" : "Resize Failed. Uploading Image");

  net::FtpConnection& ftp = connections.ftp();
  const std::string companyFolder = "/" + settings.companyId;
  if (!ftp.setCurrentDirectory(companyFolder)) {
    ftp.createDirectory(settings.companyId);
    ftp.setCurrentDirectory(companyFolder);
  }
  TransferOutcome outcome;
  outcome.stored = ftp.putFile(workingFile, number->remoteName);
  outcome.loginRefused = ftp.loginRefused();
  outcome.sent = copy->original();

  request.reset();
  copy.reset();
  sink.pointerReleased();

  if (!outcome.stored) {
    sink.communicationError();
    return outcome;
  }
  if (settings.prefered) notifyPrimary(settings, session, number->photoNumber);
  return outcome;
}

bool reducePicture(const std::string& file, std::int16_t width, std::int16_t height) {
  try {
    imaging::ImageEditor editor;
    editor.LoadPicture(file);
    std::int16_t pictureHeight = host::toInt16(editor.PictureHeight());
    std::int16_t pictureWidth = host::toInt16(editor.PictureWidth());
    if (pictureWidth > width) {
      const std::int16_t newHeight = host::toInt16(static_cast<double>(width) / pictureWidth * pictureHeight);
      editor.ResizePicture(width, newHeight);
      pictureHeight = host::toInt16(editor.PictureHeight());
      pictureWidth = host::toInt16(editor.PictureWidth());
    }
    if (pictureHeight > height) {
      const std::int16_t newWidth = host::toInt16(static_cast<double>(height) / pictureHeight * pictureWidth);
      editor.ResizePicture(newWidth, height);
    }
    editor.SavePicture(file);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kiv::upload
