// What the control does each time its container shows it: the folder is
// scanned, then the thumbnail grid is filled, or in the express capture mode
// everything is sent at once; and the Cancel button.
#include <control/upload.hpp>
#include <gallery/grid_layout.hpp>
#include <gallery/photo_scan.hpp>
#include <platform/filesystem/filesystem.hpp>
#include <platform/host/text.hpp>
#include <platform/imaging/imaging.hpp>

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

std::int32_t Upload::listUBound() const { return static_cast<std::int32_t>(sFiles.array().size()) - 1; }

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

fs::FileSystemObject& Upload::fileSystem() {
  if (!oFs) oFs = std::make_shared<fs::FileSystemObject>();
  return *oFs;
}

// A list without photos holds one empty entry. The scan's folders stay with the
// control, for removing the subfolders an upload empties.
host::Variant::Array Upload::ListPhotoFiles(std::string sPath) {
  gallery::PhotoScan scan = gallery::scanPhotoFolder(fileSystem(), sPath);
  if (scan.folder) {
    oFolder = std::move(scan.folder);
    oFolders = std::move(scan.subFolders);
    if (scan.lastSubFolder) oSubFolder = std::move(scan.lastSubFolder);
    if (scan.lastFile) oFile = std::move(scan.lastFile);
    scannedPath_ = sPath;
  }
  if (scan.photos.empty()) return {""};
  return scan.photos;
}

// Each thumbnail and check box remembers its home Top in its Tag for
// scrolling. A repeated showing reuses the elements an earlier one made and
// hides those it no longer needs.
void Upload::buildGallery(const host::Variant::Array& files) {
  const auto count = static_cast<std::int32_t>(files.size());
  for (std::int32_t n = 0; n < count; ++n) {
    const auto i = static_cast<std::int16_t>(n);
    if (!Image2.Exists(i)) Image2.Load(i);
    if (!chkSelect.Exists(i)) chkSelect.Load(i);
    host::Image& thumbnail = Image2[i];
    host::CheckBox& box = chkSelect[i];
    thumbnail.Visible = true;
    box.Visible = true;
    thumbnail.Picture = thumbnailPicture(files[static_cast<std::size_t>(n)]);
    if (i == 0) {
      imgZoom.Height = 40;
      imgZoom.Width = 60;
      imgZoom.Picture = thumbnail.Picture;
      imgZoom.Height = imgZoom.Height * 2 + imgZoom.Height;
      imgZoom.Width = imgZoom.Width * 2 + imgZoom.Width;
    }
    const gallery::Cell cell = gallery::gridCell(n, {thumbnail.Width, thumbnail.Height}, {box.Width, box.Height});
    thumbnail.Left = cell.thumbnailLeft;
    thumbnail.Top = cell.thumbnailTop;
    box.Left = cell.boxLeft;
    box.Top = cell.boxTop;
    box.Value = 0;
    box.Tag = host::numberText(box.Top);
    thumbnail.Tag = host::numberText(thumbnail.Top);
  }

  hideElementsFrom(count);

  VScroll1.Max = gallery::scrollExtent(count, {Image2[0].Width, Image2[0].Height},
                                       {chkSelect[0].Width, chkSelect[0].Height}, kGalleryFrameHeight);
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
    return site_.LoadPicture(path, imaging::LoadDisplayPicture);
  } catch (const Error&) {
    return nullptr;
  }
}

}  // namespace kiv
