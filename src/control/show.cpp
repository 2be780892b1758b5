// What the control does each time its container shows it, and the Cancel button.
#include <control/upload.hpp>
#include <control/text.hpp>

namespace kiv {

void Upload::Show() {
  kivGetFiles();
  if (text::upper(KIVType()) == "EXPRESSPHOTOS") return;

  VScroll1.LargeChange = 300;
  VScroll1.SmallChange = 275;
  // The last thumbnail in use: a repeated showing may leave hidden ones beyond it.
  const auto& last = Image2[static_cast<std::int16_t>(listUBound())];
  VScroll1.Enabled = last.Top + last.Height > kGalleryFrameHeight;

  const bool noPhotos = sFiles.array().at(0).empty();
  if (noPhotos) {
    VScroll1.Visible = false;
  } else {
    VScroll1.Visible = VScroll1.Enabled;
  }
  for (host::Control* control :
       std::initializer_list<host::Control*>{&imgCancel, &imgUploadAll, &imgSelectedPhotos, &Label4}) {
    control->Visible = !noPhotos;
  }
}

void Upload::imgCancel_Click() { site_.RaiseEvent("CloseApp"); }

std::int32_t Upload::listUBound() const {
  return static_cast<std::int32_t>(sFiles.array().size()) - 1;
}

}  // namespace kiv
