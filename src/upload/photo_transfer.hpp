#pragma once

// Sending one photo: its number from the web server, the reduction, the FTP put
// into the company's folder and the set-primary notification.

#include <platform/filesystem/filesystem.hpp>
#include <platform/internet/internet.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace kiv::upload {

// The control's settings a transfer works with.
struct TransferSettings {
  std::string vehicleId;  // as the web server is asked with it
  std::string companyId;  // also the name of the company's FTP folder
  std::string web;        // base URL of the web server
  std::string ftp;        // host[:port]
  std::string user;
  std::string password;
  std::int16_t width = 0;  // the largest size a sent photo may have
  std::int16_t height = 0;
  bool primary = false;
  bool prefered = false;  // the web server is told whether the photo is primary
};

// What a transfer shows while it runs.
class TransferSink {
 public:
  virtual ~TransferSink() = default;
  // The progress caption, drawn at the next repaint.
  virtual void caption(const std::string& text) = 0;
  // The transfer no longer keeps the pointer busy.
  virtual void pointerReleased() = 0;
  // The one message a failed transfer shows. Where the transfer knows why, the
  // photo is first reported kept with the reason, for the host to say.
  virtual void communicationError() = 0;
  // The photo was not sent and stays for the next upload, for a reason the
  // user should hear: it is still being written, or why the servers failed it.
  virtual void photoKept(const std::string& path, const std::string& reason) = 0;
};

// The connections the transfers of one run share: one web session kept alive
// from request to request, and one FTP login, made at the first put.
class Connections {
 public:
  explicit Connections(const TransferSettings& settings);
  net::Session& web() { return web_; }
  net::FtpConnection& ftp();
  // The remote names this run has stored: a web server that hands out one
  // number twice must not have the second photo put over the first.
  std::set<std::string>& storedNames() { return storedNames_; }

 private:
  TransferSettings settings_;
  net::Session web_;
  std::unique_ptr<net::FtpConnection> ftp_;
  std::set<std::string> storedNames_;
};

struct TransferOutcome {
  bool stored = false;
  bool loginRefused = false;  // the FTP server refused the account
  bool unreachable = false;   // no connection to the FTP server could be made
  std::optional<fs::FileStamp> sent;  // the photo as it was read for sending
};

// Sends the photo at path, read once through one descriptor: what is put is
// its reduction, or the photo whole when it could not be reduced. Given the
// photo folder, the photo is read only from inside it, never through a link.
// The web server's answer to the number request is left in answer (cleared first).
TransferOutcome transferPhoto(const TransferSettings& settings, const std::string& path,
                              const std::string& photoFolder, TransferSink& sink, std::string& answer);
// The same over connections kept by the caller.
TransferOutcome transferPhoto(const TransferSettings& settings, Connections& connections, const std::string& path,
                              const std::string& photoFolder, TransferSink& sink, std::string& answer);

// A photo made ready ahead of its turn: what is to be put of it, in a private
// working file, and whether that is its reduction.
struct PreparedPhoto {
  std::string path;
  std::unique_ptr<fs::WorkingCopy> copy;  // null when the photo is not to be sent
  bool reduced = false;
  std::string keptBecause;  // why a photo with no copy stays, when the user should hear it
};

// A JPEG that ends before its end marker is looked at again this long after
// it was read: a dock still writing it shows by then.
inline constexpr int kStillWritingSeconds = 2;

// Reads the photo (see transferPhoto) and reduces it to fit the size into the
// working file; a photo that cannot be reduced is copied whole, unless it is a
// JPEG still being written. Touches neither network nor control, so it may
// run on another thread.
PreparedPhoto preparePhoto(const std::string& path, const std::string& photoFolder,
                           std::pair<std::int16_t, std::int16_t> reduceTo);

// The transfer of a prepared photo: a photo with no working file is a
// transfer that asks for no number.
TransferOutcome transferPrepared(const TransferSettings& settings, Connections& connections, PreparedPhoto& prepared,
                                 TransferSink& sink, std::string& answer);

// The size a picture of pictureWidth x pictureHeight is reduced to, to fit
// width x height: width first, then height, each against what the step before
// left; a picture is never enlarged.
std::pair<std::int16_t, std::int16_t> fittedSize(std::int16_t pictureWidth, std::int16_t pictureHeight,
                                                 std::int16_t width, std::int16_t height);

// Reduces the picture file in place to its fittedSize; it is written back even
// when it already fits. False when it could not be read, reduced or written.
bool reducePicture(const std::string& file, std::int16_t width, std::int16_t height);

}  // namespace kiv::upload
