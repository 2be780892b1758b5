// Filling the control with the waiting photos: the thumbnail grid, or in the
// express capture mode an immediate upload of everything.
#include <control/text.hpp>
#include <control/upload.hpp>
#include <platform/filesystem/filesystem.hpp>

#include <algorithm>

namespace kiv {

void Upload::kivGetFiles() {
  Label5.Visible = false;
  Label1.Caption = "Searching for new photos...";
  sFiles = host::Variant(ListPhotoFiles(FullPath()));
  const host::Variant::Array files = sFiles.array();

  if (files[0].empty()) {
    Label2.Caption = "No files found.";
    VScroll1.Visible = false;
    // An earlier showing may have left photos that are gone now on screen.
    hideElementsFrom(0);
    imgZoom.Picture = nullptr;
    return;
  }
  if (files.size() == 1) {
    Label1.Caption += " 1 photo found.";
  } else {
    Label1.Caption.append(" ").append(std::to_string(files.size())).append(" photos found.");
  }
  // Thumbnails are indexed by 16-bit numbers.
  host::toInt16(static_cast<double>(files.size() - 1));

  if (text::upper(KIVType()) == "EXPRESSPHOTOS") {
    uploadExpress(files);
  } else {
    buildGallery(files);
  }
}

// Three thumbnails to a row, each with its check box underneath; every element
// remembers its home Top in its Tag for scrolling. A repeated showing reuses
// the elements an earlier one made and hides those it no longer needs.
void Upload::buildGallery(const host::Variant::Array& files) {
  const auto last = static_cast<std::int16_t>(files.size() - 1);
  std::int32_t extent = 0;

  for (std::int32_t n = 0; n <= last; ++n) {
    const auto i = static_cast<std::int16_t>(n);
    if (!Image2.Exists(i)) Image2.Load(i);
    if (!chkSelect.Exists(i)) chkSelect.Load(i);
    host::Image& thumbnail = Image2[i];
    host::CheckBox& box = chkSelect[i];
    thumbnail.Visible = true;
    box.Visible = true;

    if (i == 0) {
      thumbnail.Picture = thumbnailPicture(files[0]);
      imgZoom.Height = 40;
      imgZoom.Width = 60;
      imgZoom.Picture = thumbnail.Picture;
      imgZoom.Height = imgZoom.Height * 2 + imgZoom.Height;
      imgZoom.Width = imgZoom.Width * 2 + imgZoom.Width;
      thumbnail.Left = 5;
      thumbnail.Top = 5;
    } else {
      const host::Image& previous = Image2[static_cast<std::int16_t>(i - 1)];
      if (i % 3 == 0) {
        thumbnail.Top = previous.Height + previous.Top + chkSelect[static_cast<std::int16_t>(i - 1)].Height + 100;
        thumbnail.Left = Image2[0].Left;
        extent += static_cast<std::int32_t>(thumbnail.Height);
      } else {
        thumbnail.Top = previous.Top;
        thumbnail.Left = previous.Width + previous.Left + 50;
      }
      thumbnail.Picture = thumbnailPicture(files[static_cast<std::size_t>(i)]);
    }
    box.Left = thumbnail.Left;
    box.Top = thumbnail.Height + thumbnail.Top + 50;
    box.Value = 0;
    box.Tag = host::numberText(box.Top);
    thumbnail.Tag = host::numberText(thumbnail.Top);
  }

  hideElementsFrom(last + 1);

  // Far enough that the last row's check boxes can be scrolled into view, however
  // many rows there are.
  const host::CheckBox& lastBox = chkSelect[last];
  const auto lastBoxBottom = static_cast<std::int32_t>(lastBox.Top + lastBox.Height);
  VScroll1.Max = std::max(extent, lastBoxBottom - static_cast<std::int32_t>(kGalleryFrameHeight));
  VScroll1.Value = 0;
  site_.Refresh();
}

// Thumbnails and check boxes from `first` on stand for no photo: hidden,
// without a picture, unticked.
void Upload::hideElementsFrom(std::int32_t first) {
  for (std::int32_t unused = first; unused <= Image2.UBound(); ++unused) {
    const auto i = static_cast<std::int16_t>(unused);
    Image2[i].Visible = false;
    Image2[i].Picture = nullptr;
    chkSelect[i].Visible = false;
    chkSelect[i].Value = 0;
  }
}

// A photo that cannot be shown still gets its place in the grid: it can be
// ticked and sent like the others.
host::PictureRef Upload::thumbnailPicture(const std::string& path) {
  try {
    return site_.LoadPicture(path);
  } catch (const Error&) {
    return nullptr;
  }
}

void Upload::uploadExpress(const host::Variant::Array& files) {
  const fs::FolderLock lock(uploadFolder());
  const auto count = static_cast<std::int32_t>(files.size());
  for (std::int32_t i = 0; i < count; ++i) {
    if (sendPhoto(files[static_cast<std::size_t>(i)], i + 1, count) == PhotoOutcome::LoginRefused) break;
    if (site_.StopRequested()) break;
  }
  Label2.Caption = "";
  Label3.Caption = "Completed.";
  site_.Refresh();
  site_.RaiseEvent("CloseApp");
}

}  // namespace kiv
