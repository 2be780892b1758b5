#include "click_routing.hpp"

namespace kiv {

ClickAction clickActionFor(std::string_view name) {
  if (name == "imgUploadAll") return ClickAction::UploadAll;
  if (name == "imgSelectedPhotos") return ClickAction::UploadSelected;
  if (name == "imgCancel") return ClickAction::Cancel;
  if (name == "Image2") return ClickAction::ShowPhoto;
  return ClickAction::None;
}

ClickAction clickActionFor(const host::Control& control) {
  if (control.Kind == host::ControlKind::CheckBox) return ClickAction::Toggle;
  const ClickAction action = clickActionFor(control.Name);
  if (action == ClickAction::ShowPhoto && control.Kind != host::ControlKind::Image) return ClickAction::None;
  return action;
}

void performClick(Upload& upload, ClickAction action, std::int16_t index) {
  switch (action) {
    case ClickAction::UploadAll: upload.imgUploadAll_Click(); break;
    case ClickAction::UploadSelected: upload.imgSelectedPhotos_Click(); break;
    case ClickAction::Cancel: upload.imgCancel_Click(); break;
    case ClickAction::ShowPhoto: upload.Image2_Click(index); break;
    case ClickAction::Toggle: {
      host::CheckBox& box = upload.chkSelect[index];
      box.Value = box.Value == 0 ? 1 : 0;
      break;
    }
    case ClickAction::None: break;
  }
}

}  // namespace kiv
