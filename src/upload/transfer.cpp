// Sending one photo: its number from the web server, the reduction, the FTP put
// into the company's folder and the set-primary notification.
#include <control/upload.hpp>
#include <platform/internet/internet.hpp>
#include <upload/photo_number.hpp>
#include <upload/working_copy.hpp>

#include <array>

namespace kiv {
namespace {

constexpr const char* kAgent = "KIV";
constexpr std::size_t kReadSize = 1024;
constexpr const char* kCommunicationError =
    "There has been a communication error during the transfer of the images to server. Please try again.";
constexpr const char* kMessageTitle = "TREMONA";
constexpr std::int16_t kOkOnly = 0;

void readToEnd(net::Request& request, std::string* body) {
  std::array<char, kReadSize> buffer;
  for (;;) {
    const std::size_t delivered = request.read(buffer.data(), buffer.size());
    if (delivered == 0) break;
    if (body) body->append(buffer.data(), delivered);
  }
}

}  // namespace

bool Upload::kivFTPUpload(std::string& sFileName) {
  strHTML = "";
  net::Session session(kAgent);
  std::unique_ptr<net::Request> request = session.openUrl(KIVWEB() + "/capture/VBstorePhoto.asp?VID=" + VehicleID());
  if (request) readToEnd(*request, &strHTML);

  // Without a usable answer there is no name to store the photo under.
  const auto answer =
      request && request->succeeded() ? upload::parsePhotoNumberAnswer(strHTML) : std::nullopt;
  if (!answer) return reportCommunicationError();

  // The reduction works on a copy outside the photo folder, so the photo itself
  // stays whole until the caller deletes it after a confirmed transfer.
  std::optional<upload::WorkingCopy> copy;
  try {
    copy.emplace(sFileName);
  } catch (const Error&) {
    return reportCommunicationError();
  }
  std::string workingFile = copy->path().string();

  Label2.Caption = "Resizing photo";
  Label2.Caption = kivResizeImages(workingFile) ? "Uploading photo" : "Resize Failed. Uploading Image";

  std::unique_ptr<net::FtpConnection> ftp = session.connectFtp(KIVFTP(), KIVUser(), KIVPassword());
  const std::string companyFolder = std::string("/").append(CompanyID());
  if (!ftp->setCurrentDirectory(companyFolder)) {
    ftp->createDirectory(CompanyID());
    ftp->setCurrentDirectory(companyFolder);
  }
  const bool stored = ftp->putFile(workingFile, answer->remoteName);

  request.reset();
  ftp.reset();
  copy.reset();
  surface_.MousePointer = host::pointer::Default;

  if (!stored) return reportCommunicationError();
  if (prefered_) notifyPrimary(answer->photoNumber);
  return true;
}

bool Upload::reportCommunicationError() {
  surface_.MousePointer = host::pointer::Default;
  site_.MsgBox(kCommunicationError, kOkOnly, kMessageTitle);
  return false;
}

// Best effort: the photo is stored whatever the web server says to this.
void Upload::notifyPrimary(std::int32_t photoNumber) {
  net::Session session(kAgent);
  const std::string url = KIVWEB() + "/RLQNew/Web/Photo/PhotoSetWebPrimary.aspx?VID=" + VehicleID() +
                          "&CID=" + CompanyID() + "&Primary=" + (primary_ ? "1" : "0") +
                          "&PID=" + std::to_string(photoNumber);
  if (std::unique_ptr<net::Request> request = session.openUrl(url)) readToEnd(*request, nullptr);
}

}  // namespace kiv
