// Moving through the gallery with the scroll bar, and the enlarged view.
#include <control/upload.hpp>

namespace kiv {

void Upload::VScroll1_Change() { placeFromHome(); }
void Upload::VScroll1_Scroll() { placeFromHome(); }

// Every element goes to its home Top minus the scroll value, so any sequence of
// scroll events leaves the grid where the last value puts it.
void Upload::placeFromHome() {
  const std::int16_t last = Image2.UBound();
  for (std::int32_t n = 0; n <= last; ++n) {
    const auto i = static_cast<std::int16_t>(n);
    host::Image& thumbnail = Image2[i];
    thumbnail.Top = static_cast<float>(host::parseNumber(thumbnail.Tag) - VScroll1.Value);
    host::CheckBox& box = chkSelect[i];
    box.Top = static_cast<float>(host::parseNumber(box.Tag) - VScroll1.Value);
  }
  site_.Refresh();
}

void Upload::Image2_Click(std::int16_t Index) {
  imgZoom.Picture = nullptr;
  imgZoom.Height = 40;
  imgZoom.Width = 60;
  imgZoom.Picture = Image2[Index].Picture;
  imgZoom.Height = imgZoom.Height * 2 + imgZoom.Height;
  imgZoom.Width = imgZoom.Width * 2 + imgZoom.Width;
}

}  // namespace kiv
