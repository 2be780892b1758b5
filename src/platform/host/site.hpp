#pragma once

#include <platform/export.hpp>
#include <platform/host/picture.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv::host {

// The container a control lives in. Every call is made on the container's
// user-interface thread; a failing call throws kiv::Error to the control.
class KIV_EXPORT Site {
 public:
  virtual ~Site();

  // Repaints the surface from its current state before returning.
  virtual void Refresh() = 0;
  // The named property changed; the container saves the control later.
  virtual void PropertyChanged(std::string_view name) = 0;
  // Delivers the control's event to the host at once.
  virtual void RaiseEvent(std::string_view name) = 0;
  // Modal message; returns when dismissed, with the button pressed (1 is OK).
  virtual std::int16_t MsgBox(std::string_view prompt, std::int16_t buttons, std::string_view title) = 0;
  // A picture for display from a JPEG or bitmap file; kiv::Error 481 when the file
  // holds no picture, 53 when it is missing. The control hands in its own
  // decoder, which the default uses; a host that draws no pictures may answer
  // none without decoding.
  using PictureDecoder = PictureRef (*)(const std::string& path);
  virtual PictureRef LoadPicture(const std::string& path, PictureDecoder decode);
  // Asked between the photos of an upload run: true ends the run as after its
  // last photo, leaving the rest in the folder. The default never stops.
  virtual bool StopRequested();
  // The photo was not sent and stays in the folder, for a reason given in
  // words for the user: it is still being written, or why the servers failed
  // it (the control's communication-error box follows). The default says
  // nothing.
  virtual void PhotoKept(const std::string& path, std::string_view reason);
  // The photo of an upload run is on the server and was deleted from the
  // folder: how a host learns what a run sent. The default ignores it.
  virtual void PhotoSent(const std::string& path);
};

}  // namespace kiv::host
