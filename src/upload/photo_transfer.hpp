#pragma once

// Sending one photo: its number from the web server, the reduction, the FTP put
// into the company's folder and the set-primary notification.

#include <platform/filesystem/filesystem.hpp>
#include <platform/internet/internet.hpp>

#include <cstdint>
#include <memory>
#include <optional>
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
  // The one message a failed transfer shows.
  virtual void communicationError() = 0;
};

// The connections the transfers of one run share: one web session kept alive
// from request to request, and one FTP login, made at the first put.
class Connections {
 public:
  explicit Connections(const TransferSettings& settings);
  net::Session& web() { return web_; }
  net::FtpConnection& ftp();

 private:
  TransferSettings settings_;
  net::Session web_;
  std::unique_ptr<net::FtpConnection> ftp_;
};

struct TransferOutcome {
  bool stored = false;
  bool loginRefused = false;  // the FTP server refused the account
  std::optional<fs::FileStamp> sent;  // the photo as it was read for sending
};

// Sends the photo at path. The reduction works on a private copy, so the photo
// itself stays whole. Given the photo folder, the photo is read only from
// inside it, never through a link. The web server's answer to the number
// request is left in answer (cleared first).
TransferOutcome transferPhoto(const TransferSettings& settings, const std::string& path,
                              const std::string& photoFolder, TransferSink& sink, std::string& answer);
// The same over connections kept by the caller.
TransferOutcome transferPhoto(const TransferSettings& settings, Connections& connections, const std::string& path,
                              const std::string& photoFolder, TransferSink& sink, std::string& answer);

// A photo made ready ahead of its turn: its private copy, and the outcome of
// reducing that copy when that was done already.
struct PreparedPhoto {
  std::unique_ptr<fs::WorkingCopy> copy;  // null when the photo could not be copied
  std::optional<bool> reduced;
};

// Copies the photo (see transferPhoto) and, given a size, reduces the copy.
// Touches neither network nor control, so it may run on another thread.
PreparedPhoto preparePhoto(const std::string& path, const std::string& photoFolder,
                           std::optional<std::pair<std::int16_t, std::int16_t>> reduceTo);

// The transfer of a prepared photo: a photo that could not be copied is a
// failed transfer that asks for no number.
TransferOutcome transferPrepared(const TransferSettings& settings, Connections& connections, PreparedPhoto& prepared,
                                 TransferSink& sink, std::string& answer);

// Reduces the picture file in place to fit width x height: width first, then
// height, each against what the step before left; a picture is never enlarged,
// and it is written back even when it already fits. False when it could not be
// read, reduced or written.
bool reducePicture(const std::string& file, std::int16_t width, std::int16_t height);

}  // namespace kiv::upload
