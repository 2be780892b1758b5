// Sending one photo: its number from the web server, the reduction, the FTP put
// into the company's folder and the set-primary notification; and, in an
// upload run, its progress and the deletion of what was sent.
#include <control/text.hpp>
#include <control/upload.hpp>
#include <platform/filesystem/filesystem.hpp>
#include <platform/internet/internet.hpp>
#include <upload/photo_number.hpp>

#include <array>
#include <optional>

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

struct Upload::Transfer {
  bool stored = false;
  bool loginRefused = false;
  std::optional<fs::FileStamp> sent;  // the photo as it was read for sending
};

bool Upload::kivFTPUpload(std::string& sFileName) { return transferPhoto(sFileName, {}).stored; }

// Given the photo folder, the photo is read only from inside it, never through a link.
Upload::Transfer Upload::transferPhoto(const std::string& sFileName, const std::string& photoFolder) {
  strHTML = "";
  // The reduction works on a copy outside the photo folder, so the photo itself
  // stays whole until the caller deletes it after a confirmed transfer. Copying
  // first means a photo that is gone or still being written costs no number.
  std::optional<fs::WorkingCopy> copy;
  try {
    copy.emplace(sFileName, photoFolder);
  } catch (const Error&) {
    reportCommunicationError();
    return {};
  }

  net::Session session(kAgent);
  std::unique_ptr<net::Request> request = session.openUrl(KIVWEB() + "/capture/VBstorePhoto.asp?VID=" + VehicleID());
  if (request) readToEnd(*request, &strHTML);

  // Without a usable answer there is no name to store the photo under.
  const auto answer =
      request && request->succeeded() ? upload::parsePhotoNumberAnswer(strHTML) : std::nullopt;
  if (!answer) {
    reportCommunicationError();
    return {};
  }

  std::string workingFile = copy->path();
  Label2.Caption = "Resizing photo";
  Label2.Caption = kivResizeImages(workingFile) ? "Uploading photo" : "Resize Failed. Uploading Image";

  std::unique_ptr<net::FtpConnection> ftp = session.connectFtp(KIVFTP(), KIVUser(), KIVPassword());
  const std::string companyFolder = std::string("/").append(CompanyID());
  if (!ftp->setCurrentDirectory(companyFolder)) {
    ftp->createDirectory(CompanyID());
    ftp->setCurrentDirectory(companyFolder);
  }
  Transfer transfer;
  transfer.stored = ftp->putFile(workingFile, answer->remoteName);
  transfer.loginRefused = ftp->loginRefused();
  transfer.sent = copy->original();

  request.reset();
  ftp.reset();
  copy.reset();
  surface_.MousePointer = host::pointer::Default;

  if (!transfer.stored) {
    reportCommunicationError();
    return transfer;
  }
  if (prefered_) notifyPrimary(answer->photoNumber);
  return transfer;
}

void Upload::reportCommunicationError() {
  surface_.MousePointer = host::pointer::Default;
  site_.MsgBox(kCommunicationError, kOkOnly, kMessageTitle);
}

// Best effort: the photo is stored whatever the web server says to this.
void Upload::notifyPrimary(std::int32_t photoNumber) {
  net::Session session(kAgent);
  const std::string url = KIVWEB() + "/RLQNew/Web/Photo/PhotoSetWebPrimary.aspx?VID=" + VehicleID() +
                          "&CID=" + CompanyID() + "&Primary=" + (primary_ ? "1" : "0") +
                          "&PID=" + std::to_string(photoNumber);
  if (std::unique_ptr<net::Request> request = session.openUrl(url)) readToEnd(*request, nullptr);
}

// Sends one photo of a run, reports it as photo n of m, and deletes the local
// file only once the server holds it, and only while the path still leads to
// the file that was sent: one replaced or rewritten meanwhile stays for the
// next upload.
Upload::PhotoOutcome Upload::sendPhoto(const std::string& path, std::int32_t n, std::int32_t m) {
  const std::string folder = uploadFolder();
  const Transfer transfer = transferPhoto(path, folder);
  if (transfer.stored) {
    site_.Refresh();
    Label2.Caption = text::progressSentence(n, m);
    site_.Refresh();
    return fileSystem().DeleteFileIfUnchanged(path, *transfer.sent, folder) ? PhotoOutcome::Sent : PhotoOutcome::Kept;
  }
  Label2.Caption = text::progressSentence(n, m);
  site_.Refresh();
  return transfer.loginRefused ? PhotoOutcome::LoginRefused : PhotoOutcome::Kept;
}

}  // namespace kiv
