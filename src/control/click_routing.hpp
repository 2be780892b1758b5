#pragma once

// Which of the form's handlers a click on one of its controls runs. Hosts
// find the control under the pointer and keep their own policies (when a
// click is dropped, on which thread a handler runs); the meaning of the click
// is decided here, once.

#include <control/upload.hpp>
#include <platform/export.hpp>

#include <cstdint>
#include <string_view>

namespace kiv {

enum class ClickAction {
  None,            // the control takes no clicks
  UploadAll,       // imgUploadAll
  UploadSelected,  // imgSelectedPhotos
  Cancel,          // imgCancel
  ShowPhoto,       // an element of Image2
  Toggle,          // a check box: its value flips
};

// By the name the form gives the control; check boxes are told by their kind,
// so a host that draws its own check boxes never sees Toggle from a name.
KIV_EXPORT ClickAction clickActionFor(std::string_view name);
KIV_EXPORT ClickAction clickActionFor(const host::Control& control);

// Runs the handler; index is the element of a control array (Image2, chkSelect).
KIV_EXPORT void performClick(Upload& upload, ClickAction action, std::int16_t index);

}  // namespace kiv
